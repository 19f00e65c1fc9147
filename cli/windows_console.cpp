#include "windows_console.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "code_page.h"
#include "wide_arguments.h"

std::vector<std::string> windows_arguments()
{
    std::vector<std::string> arguments;
    WideArguments wide{};
    if (!wide_arguments_open(&wide)) {
        return arguments;
    }
    PathListOwner paths;
    if (wide.count > 1 &&
        utf8_path_list(wide.list + 1, static_cast<std::size_t>(wide.count - 1), &paths.list)) {
        arguments.assign(paths.list.paths, paths.list.paths + paths.list.count);
    }
    wide_arguments_close(&wide);
    return arguments;
}

bool windows_write_output(const std::string& utf8)
{
    if (utf8.empty()) {
        return std::fflush(stdout) == 0;
    }
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode)) {
        std::fflush(stdout);
        const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                              static_cast<int>(utf8.size()), nullptr, 0);
        if (units <= 0) {
            return false;
        }
        std::wstring wide(static_cast<std::size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
        for (std::size_t at = 0; at < wide.size();) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
            if (!WriteConsoleW(output, wide.data() + at, piece, &written, nullptr) || written == 0) {
                return false;
            }
            at += written;
        }
        return true;
    }
    // Shift-JIS for files and pipes, converted as report.txt's paths are.
    const char* text = utf8.data();
    std::size_t left = utf8.size();
    char piece[1024];
    while (left > 0) {
        const std::size_t put = path_to_cp932(platform_native(), &text, &left, piece, sizeof piece);
        if (put == 0 || std::fwrite(piece, 1, put, stdout) != put) {
            return false;
        }
    }
    return std::fflush(stdout) == 0;
}
