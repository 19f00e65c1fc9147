#include "funds.h"

#include <array>
#include <cstdio>

void format_funds(std::int64_t value, char* text, std::size_t text_size)
{
    if (text_size == 0) {
        return;
    }
    // Digits are produced from the right, a comma before every fourth one.
    // The magnitude is taken as unsigned so that the smallest value works.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                        : static_cast<std::uint64_t>(value);
    std::array<char, 32> reversed{};
    std::size_t length = 0;
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0) {
            reversed[length++] = ',';
        }
        reversed[length++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        ++digits;
    } while (magnitude != 0);
    if (value < 0) {
        reversed[length++] = '-';
    }

    std::size_t out = 0;
    while (length > 0 && out + 1 < text_size) {
        text[out++] = reversed[--length];
    }
    text[out] = '\0';
}
