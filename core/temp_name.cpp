#include "temp_name.h"

#include <chrono>
#include <cstdio>

#include "platform.h"

std::size_t folder_length(const char* path, bool windows_paths)
{
    std::size_t folder = 0;
    for (std::size_t at = 0; path[at] != '\0'; ++at) {
        const char c = path[at];
        if (c == '/' || (windows_paths && (c == '\\' || (at == 1 && c == ':')))) {
            folder = at + 1;
        }
    }
    return folder;
}

bool folder_of(const char* path, bool windows_paths, char* folder, std::size_t size)
{
    const std::size_t length = folder_length(path, windows_paths);
    const int written = length == 0 ? std::snprintf(folder, size, ".")
                                     : std::snprintf(folder, size, "%.*s",
                                                     static_cast<int>(length), path);
    return written > 0 && static_cast<std::size_t>(written) < size;
}

bool compose_temp_name(const char* beside, bool windows_paths, std::uint32_t mix, char* name,
                       std::size_t size)
{
    const std::size_t folder = folder_length(beside, windows_paths);
    const int length = std::snprintf(name, size, "%.*s%s%05x", static_cast<int>(folder), beside,
                                     TEMP_NAME_MARK, static_cast<unsigned>(mix & 0xFFFFFu));
    return length >= 0 && static_cast<std::size_t>(length) < size;
}

std::uint32_t temp_name_mix(std::uint32_t process_id, std::uint32_t* counter)
{
    const auto ticks =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint32_t mix = process_id * 2654435761u ^ static_cast<std::uint32_t>(ticks) ^
                        static_cast<std::uint32_t>(ticks >> 32) ^ (++*counter * 40503u);
    mix ^= mix >> 15;
    mix *= 2246822519u;
    mix ^= mix >> 13;
    return mix;
}
