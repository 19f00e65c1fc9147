// Temporary names beside a final name, the same on every system.
#ifndef MELNO2QUAZ_TEMP_NAME_H
#define MELNO2QUAZ_TEMP_NAME_H

#include <cstddef>
#include <cstdint>

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

// A number that differs from call to call and from process to process.
std::uint32_t temp_name_mix(std::uint32_t process_id);

#endif
