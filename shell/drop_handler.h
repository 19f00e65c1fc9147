// What the main window does with a drop of files from the shell.
#ifndef MELNO2QUAZ_DROP_HANDLER_H
#define MELNO2QUAZ_DROP_HANDLER_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

// Converts every dropped file as one batch (report.txt in the current
// directory), releases the drop, and opens the report with the verb "edit".
void handle_dropped_files(HWND owner, HDROP drop);

#endif
