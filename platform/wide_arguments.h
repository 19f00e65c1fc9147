// Windows only: the program's arguments as Windows gives them, each whole
// from the wide (UTF-16) command line, and the one conversion of Windows'
// wide names into UTF-8, the encoding of the core's paths there. The
// console program and the window both take their files so, whatever the
// ANSI code page is.
#ifndef MELNO2QUAZ_WIDE_ARGUMENTS_H
#define MELNO2QUAZ_WIDE_ARGUMENTS_H

// The wide command line split into arguments; `list[0]` is the program.
struct WideArguments {
    wchar_t** list;
    int count;
};

// Splits the wide command line. False (and nothing to close) when it
// cannot be read.
bool wide_arguments_open(WideArguments* arguments);
// Frees what wide_arguments_open took.
void wide_arguments_close(WideArguments* arguments);

// Converts the NUL-terminated UTF-16 `text` into UTF-8 in `out` (`out_size`
// bytes). Returns the bytes needed with the terminator when `out` is null,
// else the bytes written with it; 0 on failure.
int wide_to_utf8(const wchar_t* text, char* out, int out_size);

#endif
