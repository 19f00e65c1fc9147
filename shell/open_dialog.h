// The system's Open dialog, the way in for those who cannot drag: several
// files at once, Melno saves (*.psu) or any file.
#ifndef MELNO2QUAZ_OPEN_DIALOG_H
#define MELNO2QUAZ_OPEN_DIALOG_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "path_list.h"

enum ChosenFiles {
    FILES_CHOSEN,      // `list` holds them, in the dialog's order
    NOTHING_CHOSEN,    // the dialog was cancelled
    FILES_NOT_TAKEN,   // no memory for the names
};

// Shows the dialog owned by `owner`, opening in the current directory
// (which it leaves as it was), and takes every chosen file's full path,
// whole, in UTF-8 (the core's paths).
ChosenFiles choose_files(HWND owner, PathList* list);

#endif
