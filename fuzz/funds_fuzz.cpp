// format_funds on any 64-bit value (bytes 0-7, little-endian; byte 8, when
// present, sizes a second, smaller buffer). Checks the grouping and that
// the text, its commas taken out, parses back to the value.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "funds.h"
#include "source_save.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < 8 && i < size; ++i) {
        raw |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    }
    const auto value = static_cast<std::int64_t>(raw);

    char text[FUNDS_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    format_funds(value, text, sizeof text);
    require(std::memchr(text, '\0', sizeof text) != nullptr);
    const std::string full = text;
    require(full.size() <= 26);

    // A sign only for negative values, then groups of three digits with a
    // first group of one to three, and no leading zero but in "0".
    std::size_t at = 0;
    if (value < 0) {
        require(full[0] == '-');
        at = 1;
    }
    const std::string grouped = full.substr(at);
    require(!grouped.empty() && grouped.front() != ',' && grouped.back() != ',');
    require(grouped[0] != '0' || grouped == "0");
    std::string digits;
    std::size_t since_comma = 0;
    bool first_group = true;
    for (const char c : grouped) {
        if (c == ',') {
            require(first_group ? (since_comma >= 1 && since_comma <= 3) : since_comma == 3);
            first_group = false;
            since_comma = 0;
        } else {
            require(c >= '0' && c <= '9');
            digits += c;
            ++since_comma;
        }
    }
    require(first_group ? since_comma <= 3 : since_comma == 3);

    // Parses back to the value.
    errno = 0;
    const std::string plain = (value < 0 ? "-" : "") + digits;
    char* end = nullptr;
    const long long parsed = std::strtoll(plain.c_str(), &end, 10);
    require(errno == 0 && *end == '\0' && parsed == value);

    // A smaller buffer receives the start of the same text, terminated.
    if (size > 8) {
        const std::size_t small = 1 + data[8] % FUNDS_TEXT_SIZE;
        std::unique_ptr<char[]> buffer(new char[small]);
        format_funds(value, buffer.get(), small);
        require(std::memchr(buffer.get(), '\0', small) != nullptr);
        const std::size_t length = std::strlen(buffer.get());
        require(length == std::min(full.size(), small - 1));
        require(full.compare(0, length, buffer.get()) == 0);
    }
    return 0;
}
