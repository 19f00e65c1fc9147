// Temporary names beside a final name, the same on every system.
#ifndef MELNO2QUAZ_TEMP_NAME_H
#define MELNO2QUAZ_TEMP_NAME_H

#include <cstddef>
#include <cstdint>

#include "platform.h"

// The length of the folder part of `path`, its last separator included (0
// for a name in the current folder). '/' separates everywhere; with
// `windows_paths`, '\\' too, and "C:" ends a drive. Scanning bytes is exact
// for UTF-8 and Shift-JIS paths alike: no byte of a multi-byte character
// is '/', and Windows paths are UTF-8.
std::size_t folder_length(const char* path, bool windows_paths);

// The folder part of `path` into `folder` (`size` bytes), "." for a name in
// the current folder. False when it does not fit.
bool folder_of(const char* path, bool windows_paths, char* folder, std::size_t size);

// Composes TEMP_NAME_MARK and five hex digits of `mix` in the folder of
// `beside` into `name` (`size` bytes). False when it does not fit.
bool compose_temp_name(const char* beside, bool windows_paths, std::uint32_t mix, char* name,
                       std::size_t size);

// A number that differs from call to call and from process to process:
// `*counter` (the table's own) counts the calls.
std::uint32_t temp_name_mix(std::uint32_t process_id, std::uint32_t* counter);

// PlatformOps::create_temp around a system's exclusive create: composes a
// fresh temporary name beside `beside` into `name` (`name_size` bytes), with
// the table's counter `*counter` (temp_name_mix), and
// has `create_new(name, &taken)` make the file. That returns the open
// file; or NO_FILE with `taken` set when something has the name already,
// and another name is tried (a hundred at the most); or NO_FILE alone when
// no file can be made there, having noted why. On failure `name` is left
// empty, so that nothing goes on to remove a file of someone else's.
template <typename CreateNew>
PlatformFile create_under_temp_name(const char* beside, bool windows_paths,
                                    std::uint32_t process_id, std::uint32_t* counter, char* name,
                                    std::size_t name_size, CreateNew create_new)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!compose_temp_name(beside, windows_paths, temp_name_mix(process_id, counter), name,
                               name_size)) {
            break;
        }
        bool taken = false;
        const PlatformFile file = create_new(static_cast<const char*>(name), &taken);
        if (file != NO_FILE) {
            return file;
        }
        if (!taken) {
            break;
        }
    }
    if (name_size > 0) {
        name[0] = '\0';
    }
    return NO_FILE;
}

#endif
