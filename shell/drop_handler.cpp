#include "drop_handler.h"

#include "path_list.h"
#include "window_batch.h"

namespace {

constexpr UINT QUERY_FILE_COUNT = 0xFFFFFFFF;

// Copies every dropped path whole, in drop order, into one block sized for
// them: each name's length is asked first. False when there is no memory
// for them.
bool collect_dropped_paths(HDROP drop, PathList* list)
{
    const UINT count = DragQueryFileA(drop, QUERY_FILE_COUNT, nullptr, 0);
    std::size_t text_size = 0;
    for (UINT i = 0; i < count; ++i) {
        if (!add_size(&text_size, std::size_t{DragQueryFileA(drop, i, nullptr, 0)} + 1)) {
            return false;
        }
    }
    if (!allocate_path_list(list, count, text_size)) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        char* slot = add_path(list, std::size_t{length} + 1);
        if (slot == nullptr) {
            return false;
        }
        slot[0] = '\0';
        DragQueryFileA(drop, i, slot, length + 1);
        slot[length] = '\0';
    }
    return true;
}

}  // namespace

void handle_dropped_files(HWND owner, HDROP drop)
{
    PathListOwner paths;
    const bool taken = collect_dropped_paths(drop, &paths.list);
    DragFinish(drop);
    if (taken) {
        run_window_batch(owner, paths.list.paths, paths.list.count);
    } else {
        tell_paths_not_taken(owner);
    }
}
