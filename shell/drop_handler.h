// What the main window does with a drop of files from the shell.
#ifndef MELNO2QUAZ_DROP_HANDLER_H
#define MELNO2QUAZ_DROP_HANDLER_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

// Takes every dropped path whole and releases the drop, then converts the
// files as one batch beside the window (begin_window_batch). Without
// memory for the paths nothing is converted and a message box says so.
void handle_dropped_files(HWND owner, HDROP drop);

#endif
