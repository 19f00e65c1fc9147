// One batch for the window, from a drop, the Open dialog or the command
// line, run on a thread of its own so that the window answers, repaints
// and can stop it meanwhile; and the text of its outcome. It tells the
// window by messages and draws nothing: the window draws.
#ifndef MELNO2QUAZ_WINDOW_BATCH_H
#define MELNO2QUAZ_WINDOW_BATCH_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

#include "path_list.h"

// Posted by the batch's thread to the window when the batch ended (the
// window then calls finish_window_batch). Where the batch is, the window
// asks window_batch_progress on a timer of its own: the batch's thread
// never waits for the window, nor fills its queue.
constexpr UINT WM_BATCH_DONE = WM_APP + 2;

// Makes the thread the batches run on, once, as the window is made (where
// 32-bit x86 is emulated, a process's second thread costs a moment at its
// start, better spent then than in the first batch). False when no thread
// can be had.
bool prepare_window_batches();

// Starts converting the paths as one batch (report.txt in the current
// directory) on the batches' thread, which posts WM_BATCH_DONE to `owner`.
// Takes the list over (it is empty afterwards). False, the list kept, when
// a batch runs already or there is no thread.
bool start_window_batch(HWND owner, PathList* paths);

// Whether a batch was started and not finished yet.
bool window_batch_running();

// Asks the running batch to stop after the file in hand; the files after it
// are recorded with code 7.
void stop_window_batch();

struct BatchProgress {
    std::size_t in_hand;  // the file being converted, from 1; 0 before the first
    std::size_t done;     // files finished
    std::size_t count;
    wchar_t name[MAX_PATH];  // the file in hand's name, without its folder
};
void window_batch_progress(BatchProgress* progress);

// After WM_BATCH_DONE: frees the batch and tells whether it wrote
// report.txt. `results` (`size` wide characters) receives the lines the
// window keeps showing: where the report could not be written, that and
// the folder; the counts of converted and failed files; one line for each
// of the first few files that failed or went under a numbered name, and how
// many more there are.
bool finish_window_batch(wchar_t* results, std::size_t size);

#endif
