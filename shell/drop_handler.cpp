#include "drop_handler.h"

#include <new>
#include <string>
#include <vector>

#include "path_list.h"
#include "wide_arguments.h"
#include "wide_text.h"

namespace {

constexpr UINT QUERY_FILE_COUNT = 0xFFFFFFFF;

// Every dropped name whole, in drop order, as Windows gives it (in UTF-16,
// whatever the ANSI code page), as one list of UTF-8 paths. False when
// there is no memory for them.
bool collect_dropped_paths(HDROP drop, PathList* list)
{
    const UINT count = DragQueryFileW(drop, QUERY_FILE_COUNT, nullptr, 0);
    std::vector<std::wstring> names;
    std::vector<const wchar_t*> pointers;
    try {
        for (UINT i = 0; i < count; ++i) {
            std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
            DragQueryFileW(drop, i, &name[0], static_cast<UINT>(name.size()));
            names.push_back(name.c_str());
        }
        for (const std::wstring& name : names) {
            pointers.push_back(name.c_str());
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return utf8_path_list(pointers.data(), pointers.size(), list);
}

}  // namespace

bool take_dropped_paths(HDROP drop, PathList* list)
{
    const bool taken = collect_dropped_paths(drop, list);
    DragFinish(drop);
    return taken;
}
