#include "wide_text.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

constexpr UINT SHIFT_JIS_CODE_PAGE = 932;

}  // namespace

int sjis_to_wide(const char* text, std::size_t length, wchar_t* out, std::size_t out_size)
{
    if (out_size == 0) {
        return 0;
    }
    out[0] = L'\0';
    if (length == 0 || length > 0x7FFFFFFF || out_size - 1 > 0x7FFFFFFF) {
        return 0;
    }
    const int written = MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, MB_ERR_INVALID_CHARS, text,
                                            static_cast<int>(length), out,
                                            static_cast<int>(out_size - 1));
    if (written <= 0) {
        return 0;
    }
    out[written] = L'\0';
    return written;
}

bool append_wide(wchar_t* out, std::size_t out_size, const wchar_t* text)
{
    std::size_t at = 0;
    while (at < out_size && out[at] != L'\0') {
        ++at;
    }
    if (at == out_size) {
        return false;
    }
    for (; *text != L'\0'; ++text) {
        if (at + 1 >= out_size) {
            out[at] = L'\0';
            return false;
        }
        out[at++] = *text;
    }
    out[at] = L'\0';
    return true;
}

WideBuffer::WideBuffer(std::size_t units)
    : text(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, units * sizeof(wchar_t))))
{
}

WideBuffer::~WideBuffer()
{
    if (text != nullptr) {
        HeapFree(GetProcessHeap(), 0, text);
    }
}
