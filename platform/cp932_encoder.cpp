#include "cp932_encoder.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <iconv.h>

namespace {

const iconv_t NO_ICONV = reinterpret_cast<iconv_t>(-1);

}  // namespace
#endif

#ifdef _WIN32
// A code point in code page 932 (at most 2 bytes into `out`); 0 when it
// has none (no best fit: a character is the same or it is '?').
std::size_t encode_cp932(Cp932Encoder*, long code, char* out)
{
    wchar_t wide[2];
    int units = 1;
    if (code >= 0x10000) {
        wide[0] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        wide[1] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = static_cast<wchar_t>(code);
    }
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, units, out, 2, nullptr,
                                             &defaulted);
    return length > 0 && !defaulted ? static_cast<std::size_t>(length) : 0;
}
#else
// A code point in code page 932 (at most 2 bytes into `out`); 0 when it
// has none. The C library's "CP932" converter is used where it has one;
// otherwise (the page's) its "SHIFT_JIS" one, which writes the six
// characters where code page 932 and JIS X 0208 part ways under their JIS
// code points, so those are asked for by those.
std::size_t encode_cp932(Cp932Encoder* encoder, long code, char* out)
{
    if (!encoder->opened) {
        encoder->opened = true;
        iconv_t handle = ::iconv_open("CP932", "UTF-32LE");
        encoder->jis = handle == NO_ICONV;
        if (encoder->jis) {
            handle = ::iconv_open("SHIFT_JIS", "UTF-32LE");
        }
        encoder->handle = handle;
    }
    const auto handle = static_cast<iconv_t>(encoder->handle);
    if (handle == NO_ICONV) {
        return 0;
    }
    if (encoder->jis) {
        // FULLWIDTH TILDE, PARALLEL TO, FULLWIDTH HYPHEN-MINUS, and the
        // fullwidth cent, pound and not signs, by their JIS X 0208 forms.
        static const long SWAPS[][2] = {{0xFF5E, 0x301C}, {0x2225, 0x2016}, {0xFF0D, 0x2212},
                                        {0xFFE0, 0x00A2}, {0xFFE1, 0x00A3}, {0xFFE2, 0x00AC}};
        for (const auto& swap : SWAPS) {
            if (code == swap[0]) {
                code = swap[1];
            } else if (code == swap[1]) {
                return 0;  // no code page 932 form of its own
            }
        }
    }
    unsigned char utf32[4] = {static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8),
                              static_cast<unsigned char>(code >> 16), 0};
    char* from = reinterpret_cast<char*>(utf32);
    std::size_t from_left = sizeof utf32;
    char* to = out;
    std::size_t to_left = 2;
    if (::iconv(handle, &from, &from_left, &to, &to_left) == static_cast<std::size_t>(-1)) {
        ::iconv(handle, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return static_cast<std::size_t>(to - out);
}

#endif


Cp932Encoder::~Cp932Encoder()
{
#ifndef _WIN32
    if (opened && static_cast<iconv_t>(handle) != NO_ICONV) {
        ::iconv_close(static_cast<iconv_t>(handle));
    }
#endif
}
