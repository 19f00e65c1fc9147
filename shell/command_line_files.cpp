#include "command_line_files.h"

#include "path_list.h"
#include "wide_arguments.h"

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

CommandLinePaths command_line_paths(PathList* list)
{
    ArgumentsOwner arguments;
    if (!wide_arguments_open(&arguments.arguments)) {
        return COMMAND_LINE_NOT_TAKEN;
    }
    if (arguments.arguments.count < 2) {
        return NO_COMMAND_LINE_FILE;
    }
    const auto count = static_cast<std::size_t>(arguments.arguments.count - 1);
    return utf8_path_list(arguments.arguments.list + 1, count, list) ? COMMAND_LINE_FILES
                                                                     : COMMAND_LINE_NOT_TAKEN;
}
