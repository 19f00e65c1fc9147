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
    const auto count = static_cast<std::size_t>(arguments.arguments.count - 1);
    if (!utf8_path_list(arguments.arguments.list + 1, count, &paths.list)) {
        tell_paths_not_taken(owner);
        return;
    }
    begin_window_batch(owner, &paths.list);
}
