#include "wide_arguments.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

bool wide_arguments_open(WideArguments* arguments)
{
    arguments->count = 0;
    arguments->list = CommandLineToArgvW(GetCommandLineW(), &arguments->count);
    if (arguments->list == nullptr) {
        arguments->count = 0;
        return false;
    }
    return true;
}

void wide_arguments_close(WideArguments* arguments)
{
    if (arguments->list != nullptr) {
        LocalFree(arguments->list);
        arguments->list = nullptr;
    }
    arguments->count = 0;
}

namespace {

bool is_high_surrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Puts the UTF-8 of `name` at `out` (when not null) and returns its length
// without the terminator; a lone surrogate takes three bytes.
std::size_t put_utf8(const wchar_t* name, char* out)
{
    std::size_t length = 0;
    const auto put = [&](unsigned long byte) {
        if (out != nullptr) {
            out[length] = static_cast<char>(byte);
        }
        ++length;
    };
    for (std::size_t i = 0; name[i] != L'\0'; ++i) {
        unsigned long code = static_cast<unsigned long>(name[i]);
        if (is_high_surrogate(name[i]) && is_low_surrogate(name[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<unsigned long>(name[i + 1]) - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            put(code);
        } else if (code < 0x800) {
            put(0xC0 | code >> 6);
            put(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            put(0xE0 | code >> 12);
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        } else {
            put(0xF0 | code >> 18);
            put(0x80 | ((code >> 12) & 0x3F));
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        }
    }
    return length;
}

}  // namespace

bool utf8_path_list(const wchar_t* const* names, std::size_t count, PathList* list)
{
    std::size_t text_size = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!add_size(&text_size, put_utf8(names[i], nullptr) + 1)) {
            return false;
        }
    }
    if (!allocate_path_list(list, count, text_size)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = put_utf8(names[i], nullptr);
        char* slot = add_path(list, length + 1);
        if (slot == nullptr) {
            release_path_list(list);
            return false;
        }
        put_utf8(names[i], slot);
        slot[length] = '\0';
    }
    return true;
}
