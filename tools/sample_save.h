// Synthetic Melno saves for tests, the demo and the benchmark.
//
// A sample is described by a plain record: the four summary fields, what
// the other bytes hold, and the file size. The bytes are produced on demand
// for any range, so files of any size (even beyond 4 GiB) can be written
// without holding them in memory.
#ifndef MELNO2QUAZ_SAMPLE_SAVE_H
#define MELNO2QUAZ_SAMPLE_SAVE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "source_save.h"

// What the bytes outside the summary fields hold.
enum SampleFill : int {
    SAMPLE_FILL_CONSTANT = 0,  // every byte is `fill_byte`
    SAMPLE_FILL_PATTERN = 1,   // sample_pattern_byte(offset)
};

struct SampleSave {
    std::array<unsigned char, CITY_NAME_BYTES> city_name;  // raw Shift-JIS bytes
    std::int32_t map_number;
    std::int32_t game_clock;  // seconds
    std::int64_t funds;
    SampleFill fill;
    unsigned char fill_byte;  // for SAMPLE_FILL_CONSTANT
    bool write_fields;        // false: the fields' bytes are fill as well
    std::uint64_t size;       // bytes in the file
};

// A valid save of SOURCE_SIZE bytes, all fill zero, with an empty name,
// map 0, clock 0 and funds 0.
SampleSave sample_save_defaults();

// A byte that depends on its offset through a 32-bit integer hash, so any
// run copied from a wrong source offset (by any shift) differs from the
// expected one in almost every byte.
unsigned char sample_pattern_byte(std::uint64_t offset);

// Sets the name to `bytes`, padded with zero bytes. False, leaving the name
// as it was, when there are more than 16 bytes.
bool sample_set_name(SampleSave* save, std::string_view bytes);

// Sets the name from hexadecimal digits, two per byte; spaces, ':' and '-'
// between bytes are ignored ("93 8c 8b 9e" or "938c8b9e"). False, leaving
// the name as it was, on a bad digit, an odd count or more than 16 bytes.
bool sample_set_name_hex(SampleSave* save, std::string_view hex);

// Writes bytes [offset, offset + length) of the file into `out`; the range
// must lie within the file.
void sample_fill_range(const SampleSave& save, std::uint64_t offset, unsigned char* out,
                       std::size_t length);

// The whole file as bytes. Only for sizes that fit in memory.
std::vector<unsigned char> sample_bytes(const SampleSave& save);

// Creates or truncates `path` and writes the whole file. False on any error
// (the file may then be incomplete).
bool sample_write_file(const SampleSave& save, const char* path);

#endif
