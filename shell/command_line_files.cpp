#include "command_line_files.h"

#include <shellapi.h>

#include "path_list.h"
#include "window_batch.h"

namespace {

constexpr UINT UTF8_CODE_PAGE = 65001;

// Owns the argument vector CommandLineToArgvW allocated.
struct ArgumentsOwner {
    LPWSTR* arguments = nullptr;
    ArgumentsOwner() = default;
    ArgumentsOwner(const ArgumentsOwner&) = delete;
    ArgumentsOwner& operator=(const ArgumentsOwner&) = delete;
    ~ArgumentsOwner()
    {
        if (arguments != nullptr) {
            LocalFree(arguments);
        }
    }
};

// The argument in the ANSI code page: its size with the terminator when
// `out` is null, else the bytes written. Characters the code page cannot
// represent become '?' (no best-fit look-alikes, which could name another
// file). 0 on failure.
int to_ansi(const wchar_t* argument, char* out, int out_size)
{
    if (GetACP() == UTF8_CODE_PAGE) {  // every character has a form there
        return WideCharToMultiByte(CP_ACP, 0, argument, -1, out, out_size, nullptr, nullptr);
    }
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, argument, -1, out, out_size, "?",
                               nullptr);
}

// Bytes kept for an argument: its ANSI form with the terminator, and room
// for "?" when it has no ANSI form at all.
std::size_t slot_size(const wchar_t* argument)
{
    const int size = to_ansi(argument, nullptr, 0);
    return size > 2 ? static_cast<std::size_t>(size) : 2;
}

// The arguments after the program's name, each whole, in one block. False
// when there is no memory for them.
bool collect_argument_paths(LPWSTR* arguments, int argument_count, PathList* list)
{
    const std::size_t count = argument_count > 1 ? static_cast<std::size_t>(argument_count - 1) : 0;
    std::size_t text_size = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!add_size(&text_size, slot_size(arguments[i + 1]))) {
            return false;
        }
    }
    if (!allocate_path_list(list, count, text_size)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = slot_size(arguments[i + 1]);
        char* slot = add_path(list, size);
        if (slot == nullptr) {
            return false;
        }
        if (to_ansi(arguments[i + 1], slot, static_cast<int>(size)) <= 0) {
            slot[0] = '?';  // no ANSI form at all: no file can have this name
            slot[1] = '\0';
        }
        slot[size - 1] = '\0';
    }
    return true;
}

}  // namespace

void convert_command_line_files(HWND owner)
{
    ArgumentsOwner arguments;
    int argument_count = 0;
    arguments.arguments = CommandLineToArgvW(GetCommandLineW(), &argument_count);
    if (arguments.arguments == nullptr) {
        tell_paths_not_taken(owner);
        return;
    }
    if (argument_count < 2) {
        return;
    }
    PathListOwner paths;
    if (!collect_argument_paths(arguments.arguments, argument_count, &paths.list)) {
        tell_paths_not_taken(owner);
        return;
    }
    run_window_batch(owner, paths.list.paths, paths.list.count);
}
