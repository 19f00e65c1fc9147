// Checking a Quaz save against the layout and the sealing that build it.
#ifndef MELNO2QUAZ_TARGET_CHECK_H
#define MELNO2QUAZ_TARGET_CHECK_H

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Results of a check.
enum : int32_t {
    CHECK_INTACT = 0,      // every checked part is as the converter writes it
    CHECK_DAMAGED = 1,     // the text names what is wrong
    CHECK_UNREADABLE = 2,  // the file could not be opened or read; the text says why
};

// Room for the text of one check, terminator included.
constexpr std::size_t CHECK_TEXT_SIZE = 512;

// Checks the `size` bytes of a file: its size, the fixed header and fixed
// block, the two sealing constants, both checksums and the four zero bytes
// at the end. The sums are those of seal_target, run on `image` itself; the
// bytes it stores are put back, so `image` is unchanged on return. `text`
// (`text_size` bytes, always terminated) gets "ok" or the problems found,
// separated by "; ". Returns CHECK_INTACT or CHECK_DAMAGED.
int32_t check_target(unsigned char* image, std::uint64_t size, char* text, std::size_t text_size);

// Reads the file at `path` through the platform and checks it as above.
// Writes nothing. CHECK_UNREADABLE, with the reason in `text`, when the
// file cannot be opened or read or there is no memory for it.
int32_t check_target_file(const PlatformOps& os, const char* path, char* text,
                          std::size_t text_size);

#endif
