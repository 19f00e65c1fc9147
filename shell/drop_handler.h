// The paths of a drop of files from the shell.
#ifndef MELNO2QUAZ_DROP_HANDLER_H
#define MELNO2QUAZ_DROP_HANDLER_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include "path_list.h"

// Takes every dropped path whole into `list` and releases the drop. False
// when there is no memory for the paths.
bool take_dropped_paths(HDROP drop, PathList* list);

#endif
