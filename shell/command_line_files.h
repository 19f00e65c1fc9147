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
// Each argument is taken whole in the ANSI code page (the core's paths); a
// character that code page cannot represent becomes '?', which no Windows
// file name contains, so such a file is recorded as one that cannot be
// opened (code 2). Does nothing when no file is named.
void convert_command_line_files(HWND owner);

#endif
