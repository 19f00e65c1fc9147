#include "open_dialog.h"

#include <commdlg.h>

#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "wide_arguments.h"
#include "wide_text.h"
#include "window_texts.h"

namespace {

// The dialog's answer: a folder and the names in it, or one full path,
// each NUL-terminated, then a second NUL. 32,767 characters are what the
// dialog gives at most.
constexpr DWORD NAMES_CAPACITY = 32768;
constexpr std::size_t FILTER_CAPACITY = 256;

// Appends a Shift-JIS text and a wide pattern, each with its terminator.
std::size_t add_filter(wchar_t* filter, std::size_t at, const char* sjis, const wchar_t* pattern)
{
    std::array<wchar_t, FILTER_CAPACITY> text{};
    const int length = sjis_to_wide(sjis, std::strlen(sjis), text.data(), text.size());
    const std::size_t pattern_length = static_cast<std::size_t>(lstrlenW(pattern));
    if (at + static_cast<std::size_t>(length) + pattern_length + 3 > FILTER_CAPACITY) {
        return at;
    }
    std::memcpy(filter + at, text.data(), static_cast<std::size_t>(length) * sizeof(wchar_t));
    at += static_cast<std::size_t>(length);
    filter[at++] = L'\0';
    std::memcpy(filter + at, pattern, pattern_length * sizeof(wchar_t));
    at += pattern_length;
    filter[at++] = L'\0';
    filter[at] = L'\0';
    return at;
}

}  // namespace

ChosenFiles choose_files(HWND owner, PathList* list)
{
    WideBuffer names(NAMES_CAPACITY);
    if (names.text == nullptr) {
        return FILES_NOT_TAKEN;
    }
    std::array<wchar_t, FILTER_CAPACITY> filter{};
    const std::size_t saves_end = add_filter(filter.data(), 0, OPEN_FILTER_SAVES, L"*.psu");
    add_filter(filter.data(), saves_end, OPEN_FILTER_ALL, L"*.*");
    std::array<wchar_t, FILTER_CAPACITY> title{};
    sjis_to_wide(OPEN_DIALOG_TITLE, std::strlen(OPEN_DIALOG_TITLE), title.data(), title.size());
    std::array<wchar_t, MAX_PATH + 1> folder{};
    const DWORD folder_length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.data();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = names.text;
    dialog.nMaxFile = NAMES_CAPACITY;
    dialog.lpstrInitialDir = folder_length > 0 && folder_length < folder.size() ? folder.data() : nullptr;
    dialog.lpstrTitle = title.data();
    // The current directory stays: report.txt is written there.
    dialog.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST |
                   OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) {
        return NOTHING_CHOSEN;
    }
    names.text[NAMES_CAPACITY - 1] = L'\0';
    names.text[NAMES_CAPACITY - 2] = L'\0';

    // One file: its full path. Several: the folder, then each name.
    const wchar_t* first = names.text;
    const wchar_t* after_first = first + lstrlenW(first) + 1;
    std::vector<std::wstring> paths;
    std::vector<const wchar_t*> pointers;
    try {
        if (*after_first == L'\0') {
            paths.emplace_back(first);
        }
        const std::wstring folder(first);
        const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
        for (const wchar_t* name = after_first; *name != L'\0'; name += lstrlenW(name) + 1) {
            paths.push_back(folder + (separated ? L"" : L"\\") + name);
        }
        for (const std::wstring& path : paths) {
            pointers.push_back(path.c_str());
        }
    } catch (const std::bad_alloc&) {
        return FILES_NOT_TAKEN;
    }
    if (!utf8_path_list(pointers.data(), pointers.size(), list)) {
        return FILES_NOT_TAKEN;
    }
    return FILES_CHOSEN;
}
