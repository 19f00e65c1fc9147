// Shift-JIS texts shown through the wide (UTF-16) Win32 calls, so that they
// read the same whatever the system's ANSI code page is.
#ifndef MELNO2QUAZ_WIDE_TEXT_H
#define MELNO2QUAZ_WIDE_TEXT_H

#include <cstddef>

// Converts `length` bytes of Shift-JIS (code page 932) text into UTF-16 in
// `out` (`out_size` wide characters, terminator included) and terminates it.
// Returns the number of wide characters written before the terminator, or 0
// when the text is empty, does not fit or cannot be converted.
int sjis_to_wide(const char* text, std::size_t length, wchar_t* out, std::size_t out_size);

// Appends the NUL-terminated `text` to the NUL-terminated `out` of
// `out_size` wide characters, as far as it fits. False when it was cut.
bool append_wide(wchar_t* out, std::size_t out_size, const wchar_t* text);

// A zero-filled block of `units` wide characters from the process heap,
// freed when it goes; `text` is null when none could be had.
struct WideBuffer {
    explicit WideBuffer(std::size_t units);
    ~WideBuffer();
    WideBuffer(const WideBuffer&) = delete;
    WideBuffer& operator=(const WideBuffer&) = delete;
    wchar_t* text;
};

#endif
