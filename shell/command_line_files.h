// Files handed to the program on its command line: dropped onto its icon,
// sent to it with "Send to", or named when it is started.
#ifndef MELNO2QUAZ_COMMAND_LINE_FILES_H
#define MELNO2QUAZ_COMMAND_LINE_FILES_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Converts the files named after the program's own name as one batch, as if
// they had been dropped on `owner`, and shows the outcome the same way.
// Each argument is taken whole from the wide command line, in UTF-8 (the
// core's paths), so every name Windows can give works whatever the ANSI
// code page is. Does nothing when no file is named.
void convert_command_line_files(HWND owner);

#endif
