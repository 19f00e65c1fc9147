// One batch run for the window, from a drop or from the command line, and
// what the user is shown afterwards.
#ifndef MELNO2QUAZ_WINDOW_BATCH_H
#define MELNO2QUAZ_WINDOW_BATCH_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

// Converts the paths as one batch (report.txt in the current directory).
// When this batch wrote the report, it is opened with the verb "edit";
// otherwise a message box owned by `owner` says that the report could not
// be written in this folder and how many files were converted and failed,
// and no report is opened (an older one would not be this batch's).
void run_window_batch(HWND owner, const char* const* paths, std::size_t count);

// Tells the user that the paths could not be taken for want of memory and
// that nothing was converted.
void tell_paths_not_taken(HWND owner);

#endif
