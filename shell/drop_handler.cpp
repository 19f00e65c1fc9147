#include "drop_handler.h"

#include <array>
#include <new>
#include <vector>

#include "melno2quaz.h"
#include "window_texts.h"

namespace {

constexpr UINT QUERY_FILE_COUNT = 0xFFFFFFFF;

using PathBuffer = std::array<char, PATH_SIZE>;

// Copies every dropped path, in drop order, into a buffer of its own. A
// longer path arrives cut to its first 259 bytes and is kept in that form.
bool collect_paths(HDROP drop, std::vector<PathBuffer>* buffers, std::vector<const char*>* paths)
{
    const UINT count = DragQueryFileA(drop, QUERY_FILE_COUNT, nullptr, 0);
    try {
        buffers->resize(count);
        paths->reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        PathBuffer& buffer = (*buffers)[i];
        buffer[0] = '\0';
        DragQueryFileA(drop, i, buffer.data(), static_cast<UINT>(buffer.size()));
        buffer.back() = '\0';
        paths->push_back(buffer.data());
    }
    return true;
}

}  // namespace

void handle_dropped_files(HWND owner, HDROP drop)
{
    // When even the path buffers cannot be had, nothing is converted; the
    // drop is released and the report is offered all the same.
    std::vector<PathBuffer> buffers;
    std::vector<const char*> paths;
    if (collect_paths(drop, &buffers, &paths)) {
        process_dropped_files(paths.data(), paths.size());
    }
    DragFinish(drop);
    ShellExecuteA(owner, REPORT_VERB, REPORT_FILE_NAME, nullptr, nullptr, SW_SHOWNORMAL);
}
