// Files handed to the program on its command line: dropped onto its icon,
// sent to it with "Send to", or named when it is started.
#ifndef MELNO2QUAZ_COMMAND_LINE_FILES_H
#define MELNO2QUAZ_COMMAND_LINE_FILES_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "path_list.h"

enum CommandLinePaths { NO_COMMAND_LINE_FILE, COMMAND_LINE_FILES, COMMAND_LINE_NOT_TAKEN };

// The files named after the program's own name, into `list`, each taken
// whole from the wide command line in UTF-8 (the core's paths), so every
// name Windows can give works whatever the ANSI code page is.
// COMMAND_LINE_NOT_TAKEN when the command line or memory for it cannot be
// had.
CommandLinePaths command_line_paths(PathList* list);

#endif
