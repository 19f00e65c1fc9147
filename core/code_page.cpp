#include "code_page.h"

#include <algorithm>
#include <cstring>

#include "platform.h"

bool cp932_is_lead_byte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool cp932_is_trail_byte(unsigned char byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

bool single_byte_is_lead_byte(unsigned char)
{
    return false;
}

std::size_t path_to_cp932(const char** text, std::size_t* left, char* out, std::size_t size)
{
    const PlatformOps& os = platform();
    std::size_t put = 0;
    // A character of code page 932 takes up to 2 bytes: one goes in only
    // where 2 are left.
    while (*left > 0 && size - put >= 2) {
        const char first = **text;
        std::size_t taken = 1;
        if (static_cast<unsigned char>(first) < 0x80) {
            out[put++] = first;
        } else {
            char character[2];
            const std::size_t length = os.character_to_cp932(*text, *left, character, &taken);
            if (length == 0) {
                out[put++] = '?';
            } else {
                const std::size_t n = std::min(length, sizeof character);
                std::memcpy(out + put, character, n);
                put += n;
            }
            taken = std::min(std::max<std::size_t>(taken, 1), *left);
        }
        *text += taken;
        *left -= taken;
    }
    return put;
}
