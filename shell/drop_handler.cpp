#include "drop_handler.h"

#include "main_window.h"
#include "path_list.h"
#include "wide_arguments.h"
#include "wide_text.h"
#include "window_batch.h"

namespace {

constexpr UINT QUERY_FILE_COUNT = 0xFFFFFFFF;

// UTF-8 takes at most three bytes for each UTF-16 unit.
constexpr UINT UTF8_BYTES_PER_UNIT = 3;

// Copies every dropped name whole, in drop order, as Windows gives it (in
// UTF-16, whatever the ANSI code page), converted to UTF-8 into one block
// sized for them. False when there is no memory for them.
bool collect_dropped_paths(HDROP drop, PathList* list)
{
    const UINT count = DragQueryFileW(drop, QUERY_FILE_COUNT, nullptr, 0);
    UINT longest = 0;
    std::size_t text_size = 0;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length >= 0x7FFFFFFF / UTF8_BYTES_PER_UNIT ||
            !add_size(&text_size, std::size_t{length} * UTF8_BYTES_PER_UNIT + 1)) {
            return false;
        }
        longest = length > longest ? length : longest;
    }
    const UINT units = longest + 1;
    WideBuffer name(units);
    if (name.text == nullptr || !allocate_path_list(list, count, text_size)) {
        return false;
    }
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        const int size = static_cast<int>(length * UTF8_BYTES_PER_UNIT + 1);
        char* slot = add_path(list, static_cast<std::size_t>(size));
        if (slot == nullptr) {
            return false;
        }
        name.text[0] = L'\0';
        DragQueryFileW(drop, i, name.text, units);
        name.text[units - 1] = L'\0';
        if (wide_to_utf8(name.text, slot, size) <= 0) {
            slot[0] = '\0';
        }
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
        begin_window_batch(owner, &paths.list);
    } else {
        tell_paths_not_taken(owner);
    }
}
