// Loading a Melno save and composing its city summary.
#ifndef MELNO2QUAZ_SOURCE_SAVE_H
#define MELNO2QUAZ_SOURCE_SAVE_H

#include <cstddef>
#include <cstdint>

#include "city_summary.h"
#include "platform.h"

// A Melno save is recognised by this exact size.
constexpr std::uint32_t SOURCE_SIZE = 5233664;

// Offsets of the four summary fields in a Melno save (little-endian).
constexpr std::size_t SOURCE_CLOCK_OFFSET = 49184;  // signed 32-bit seconds
constexpr std::size_t SOURCE_NAME_OFFSET = 49507;   // 16 bytes of Shift-JIS
constexpr std::size_t SOURCE_FUNDS_OFFSET = 49752;  // signed 64-bit
constexpr std::size_t SOURCE_MAP_OFFSET = 50064;    // signed 32-bit

// One loaded source file. Empty (image null) before load_source succeeds
// and after release_source.
struct SourceSave {
    unsigned char* image;    // the file's bytes, SOURCE_SIZE of them
    std::uint32_t size;      // the file's size: SOURCE_SIZE once loaded
    CitySummary summary;     // its four fields, once loaded
};

// Opens, checks and reads the file at `path` into `save` and writes the
// summary into `message` (MESSAGE_SIZE bytes). Returns CONVERT_OK,
// ERR_NOT_SOURCE, ERR_SOURCE_MEMORY or ERR_READ_SOURCE; on failure nothing
// stays allocated and the file is closed.
int32_t load_source(const PlatformOps& os, const char* path, SourceSave* save, char* message);

// Frees the image, if any, and marks the record empty.
void release_source(const PlatformOps& os, SourceSave* save);

#endif
