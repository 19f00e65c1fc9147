#include "open_dialog.h"

#include <commdlg.h>

#include <array>
#include <cstring>

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

// Bytes of the UTF-8 form of folder + separator + name, terminator included.
std::size_t joined_size(const wchar_t* folder, const wchar_t* name)
{
    const int folder_size = wide_to_utf8(folder, nullptr, 0);
    const int name_size = wide_to_utf8(name, nullptr, 0);
    return folder_size > 0 && name_size > 0 ? static_cast<std::size_t>(folder_size + name_size) : 0;
}

// Writes folder + separator (where the folder does not end in one) + name.
bool put_joined(PathList* list, const wchar_t* folder, const wchar_t* name)
{
    const std::size_t size = joined_size(folder, name);
    char* slot = size > 0 ? add_path(list, size) : nullptr;
    if (slot == nullptr) {
        return false;
    }
    const int folder_bytes = wide_to_utf8(folder, slot, static_cast<int>(size)) - 1;
    if (folder_bytes < 0) {
        return false;
    }
    std::size_t at = static_cast<std::size_t>(folder_bytes);
    if (at > 0 && slot[at - 1] != '\\' && slot[at - 1] != '/') {
        slot[at++] = '\\';
    }
    return wide_to_utf8(name, slot + at, static_cast<int>(size - at)) > 0;
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
    const bool one = *after_first == L'\0';
    std::size_t count = 0;
    std::size_t text_size = 0;
    if (one) {
        count = 1;
        text_size = static_cast<std::size_t>(wide_to_utf8(first, nullptr, 0));
    } else {
        for (const wchar_t* name = after_first; *name != L'\0'; name += lstrlenW(name) + 1) {
            const std::size_t size = joined_size(first, name);
            if (size == 0 || !add_size(&text_size, size)) {
                return FILES_NOT_TAKEN;
            }
            ++count;
        }
    }
    if (text_size == 0 || !allocate_path_list(list, count, text_size)) {
        return FILES_NOT_TAKEN;
    }
    if (one) {
        char* slot = add_path(list, text_size);
        return slot != nullptr && wide_to_utf8(first, slot, static_cast<int>(text_size)) > 0
                   ? FILES_CHOSEN
                   : FILES_NOT_TAKEN;
    }
    for (const wchar_t* name = after_first; *name != L'\0'; name += lstrlenW(name) + 1) {
        if (!put_joined(list, first, name)) {
            release_path_list(list);
            return FILES_NOT_TAKEN;
        }
    }
    return FILES_CHOSEN;
}
