// Paths whose bytes are their units and that mean what they say: POSIX's,
// and the in-memory table's. The two tables share these operations.
#ifndef MELNO2QUAZ_BYTE_PATHS_H
#define MELNO2QUAZ_BYTE_PATHS_H

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform.h"

// PlatformOps::meant_path: the path as given; false when it does not fit.
inline bool byte_path_meant(void*, const char* path, char* meant, std::size_t size)
{
    const int length = std::snprintf(meant, size, "%s", path);
    return length >= 0 && static_cast<std::size_t>(length) < size;
}

// PlatformOps::path_fits: at most PATH_LIMIT bytes.
inline bool byte_path_fits(void*, const char* path)
{
    return ::strnlen(path, PATH_LIMIT + 1) <= PATH_LIMIT;
}

#endif
