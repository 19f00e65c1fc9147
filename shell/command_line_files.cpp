#include "command_line_files.h"

#include "main_window.h"
#include "path_list.h"
#include "wide_arguments.h"
#include "window_batch.h"

namespace {

// Owns the arguments wide_arguments_open split.
struct ArgumentsOwner {
    WideArguments arguments{};
    ArgumentsOwner() = default;
    ArgumentsOwner(const ArgumentsOwner&) = delete;
    ArgumentsOwner& operator=(const ArgumentsOwner&) = delete;
    ~ArgumentsOwner() { wide_arguments_close(&arguments); }
};

// Bytes kept for an argument: its UTF-8 form with the terminator.
std::size_t slot_size(const wchar_t* argument)
{
    const int size = wide_to_utf8(argument, nullptr, 0);
    return size > 1 ? static_cast<std::size_t>(size) : 1;
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
        if (wide_to_utf8(arguments[i + 1], slot, static_cast<int>(size)) <= 0) {
            slot[0] = '\0';
        }
        slot[size - 1] = '\0';
    }
    return true;
}

}  // namespace

void convert_command_line_files(HWND owner)
{
    ArgumentsOwner arguments;
    if (!wide_arguments_open(&arguments.arguments)) {
        tell_paths_not_taken(owner);
        return;
    }
    if (arguments.arguments.count < 2) {
        return;
    }
    PathListOwner paths;
    if (!collect_argument_paths(arguments.arguments.list, arguments.arguments.count, &paths.list)) {
        tell_paths_not_taken(owner);
        return;
    }
    begin_window_batch(owner, &paths.list);
}
