#include "code_page.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "platform.h"

bool cp932_is_lead_byte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool cp932_is_trail_byte(unsigned char byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

namespace {

// Upper case without '-' and '_', at most 31 characters kept.
std::string_view codeset_key(const char* codeset, std::array<char, 32>* key)
{
    std::size_t length = 0;
    for (const char* c = codeset; *c != '\0' && length < key->size(); ++c) {
        if (*c != '-' && *c != '_') {
            (*key)[length++] = (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
        }
    }
    return std::string_view(key->data(), length);
}

bool key_is_one_of(const char* codeset, std::initializer_list<std::string_view> names)
{
    std::array<char, 32> buffer;
    const std::string_view key = codeset_key(codeset, &buffer);
    for (const std::string_view name : names) {
        if (key == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool is_shift_jis_codeset(const char* codeset)
{
    return key_is_one_of(codeset, {"SHIFTJIS", "SJIS", "CP932", "WINDOWS31J", "MSKANJI"});
}

bool is_ascii_codeset(const char* codeset)
{
    return key_is_one_of(codeset, {"", "ANSIX3.41968", "ASCII", "USASCII", "646"});
}

bool is_utf8_codeset(const char* codeset)
{
    return key_is_one_of(codeset, {"UTF8"});
}

bool single_byte_is_lead_byte(unsigned char)
{
    return false;
}

long utf8_decode(const unsigned char* text, std::size_t left, std::size_t* taken)
{
    *taken = 1;
    const unsigned char lead = text[0];
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > left) {
        return -1;
    }
    long code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return -1;
        }
        code = (code << 6) | (text[i] & 0x3F);
    }
    const long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
        return -1;
    }
    *taken = length;
    return code;
}

std::size_t path_to_cp932(const PlatformOps& os, const char** text, std::size_t* left, char* out,
                          std::size_t size)
{
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
            const std::size_t length = os.character_to_cp932(os.context, *text, *left, character,
                                                             &taken);
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
