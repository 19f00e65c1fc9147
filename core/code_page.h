// Code page 932 (Shift-JIS), the code page of report.txt: its lead bytes,
// and paths converted into it.
#ifndef MELNO2QUAZ_CODE_PAGE_H
#define MELNO2QUAZ_CODE_PAGE_H

#include <cstddef>

#include "platform.h"

// 0x81-0x9F and 0xE0-0xFC start a double-byte character in code page 932.
bool cp932_is_lead_byte(unsigned char byte);

// 0x40-0x7E and 0x80-0xFC can end one. A lead byte before any other byte
// stands alone: it never takes a separator, a dot or a terminator with it.
bool cp932_is_trail_byte(unsigned char byte);

// Whether a codeset name (as nl_langinfo(CODESET) gives it) is Shift-JIS /
// code page 932, or plain ASCII (the C and POSIX locales), in any case and
// with or without '-' and '_' ("Shift_JIS", "SHIFT-JIS", "sjis", "CP932",
// "WINDOWS-31J", "MS_KANJI"; "ANSI_X3.4-1968", "US-ASCII"). An empty name
// counts as ASCII.
bool is_shift_jis_codeset(const char* codeset);
bool is_ascii_codeset(const char* codeset);
bool is_utf8_codeset(const char* codeset);

// A code page in which no byte starts a double-byte character (UTF-8 and
// single-byte code pages: splitting byte by byte is exact for them).
bool single_byte_is_lead_byte(unsigned char byte);

// The code point of the UTF-8 character at `text` (`left` bytes from
// there, at least 1), and its length in `*taken` (1 for a byte that starts
// no character); -1 when there is none: a stray byte, a cut or overlong
// form, a surrogate, a value past U+10FFFF.
long utf8_decode(const unsigned char* text, std::size_t left, std::size_t* taken);

// Converts a path of the system's encoding into code page 932 for
// report.txt, as far as `size` bytes of `out` reach and never stopping
// inside a character: advances `*text` and `*left` past what it converted
// and returns the bytes put into `out` (no terminator). ASCII, the same in
// every encoding paths come in, is copied; every other character goes
// through character_to_cp932 of `os`. A byte that
// is no character and a character with no code page 932 form each become
// one '?'. With `size` of 2 or more it always takes at least one byte.
std::size_t path_to_cp932(const PlatformOps& os, const char** text, std::size_t* left, char* out,
                          std::size_t size);

#endif
