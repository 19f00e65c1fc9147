// Code page 932 from Unicode code points: the one encoder the tables share
// (the POSIX table after decoding the locale's codeset, the in-memory one
// after decoding UTF-8). Its converter is the caller's, kept in the
// table's state.
#ifndef MELNO2QUAZ_CP932_ENCODER_H
#define MELNO2QUAZ_CP932_ENCODER_H

#include <cstddef>

// The converter, opened at the first use (POSIX: iconv; Windows converts
// without one).
struct Cp932Encoder {
    Cp932Encoder() = default;
    ~Cp932Encoder();
    Cp932Encoder(const Cp932Encoder&) = delete;
    Cp932Encoder& operator=(const Cp932Encoder&) = delete;

    bool opened = false;
    bool jis = false;  // the C library's "SHIFT_JIS", for want of "CP932"
    void* handle = nullptr;
};

// The code point `code` in code page 932, at most 2 bytes into `out`; 0
// when it has no form there (no best fit: a character is the same or none).
std::size_t encode_cp932(Cp932Encoder* encoder, long code, char* out);

#endif
