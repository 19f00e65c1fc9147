// Windows only: the program's arguments as Windows gives them, each whole
// from the wide (UTF-16) command line, and the one conversion of Windows'
// wide names into a list of UTF-8 paths, the encoding of the core's paths
// there. Every way files come in (the console program's arguments, the
// window's command line, a drop, the Open dialog) takes them so, whatever
// the ANSI code page is.
#ifndef MELNO2QUAZ_WIDE_ARGUMENTS_H
#define MELNO2QUAZ_WIDE_ARGUMENTS_H

#include <cstddef>

#include "path_list.h"

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

// The `count` NUL-terminated UTF-16 `names`, in order, as one list of UTF-8
// paths, each whole. A unit that is no valid UTF-16 (a lone surrogate,
// which NTFS allows in a name) is kept as the three bytes UTF-8 would give
// it, which no valid UTF-8 holds: the Win32 table then refuses the name
// ("the name is not valid Unicode") instead of taking it for another.
// False (and an empty list) when there is no memory for them.
bool utf8_path_list(const wchar_t* const* names, std::size_t count, PathList* list);

#endif
