// Where the characters of a path start, worked out independently of the
// core for the fuzz targets' checks: a lead byte of the code page and the
// byte after it (unless that is 0xFF or the end) are one character.
#ifndef MELNO2QUAZ_PATH_CHARS_H
#define MELNO2QUAZ_PATH_CHARS_H

#include <string>
#include <vector>

#include "code_page.h"

inline std::vector<bool> path_char_starts(const std::string& path, bool cp932)
{
    std::vector<bool> starts(path.size() + 1, false);
    std::size_t at = 0;
    while (at < path.size()) {
        starts[at] = true;
        const auto byte = static_cast<unsigned char>(path[at]);
        const bool lead = cp932 && cp932_is_lead_byte(byte);
        at += (lead && at + 1 < path.size() && cp932_is_trail_byte(static_cast<unsigned char>(path[at + 1])))
                  ? 2
                  : 1;
    }
    starts[path.size()] = true;
    return starts;
}

inline bool path_is_separator(char c)
{
    return c == '\\' || c == '/';
}

#endif
