// Building, sealing and writing a Quaz save.
#ifndef MELNO2QUAZ_TARGET_SAVE_H
#define MELNO2QUAZ_TARGET_SAVE_H

#include <cstddef>
#include <cstdint>

#include "source_save.h"

struct BatchFiles;
struct FileOutcome;

constexpr std::uint32_t TARGET_SIZE = 5184406;
constexpr std::size_t TARGET_HEADER_SIZE = 52;
constexpr std::size_t TARGET_FIXED_BLOCK_SIZE = 360;

extern const unsigned char TARGET_HEADER[TARGET_HEADER_SIZE];
extern const unsigned char TARGET_FIXED_BLOCK[TARGET_FIXED_BLOCK_SIZE];

// Where the sealing values live in a target image.
constexpr std::size_t TARGET_HEADER_CHECKSUM_OFFSET = 940;
constexpr std::size_t TARGET_SEAL_A_OFFSET = 5184210;
constexpr std::size_t TARGET_SEAL_B_OFFSET = 5184214;
constexpr std::size_t TARGET_IMAGE_CHECKSUM_OFFSET = 5184398;
constexpr std::uint32_t TARGET_SEAL_A = 60;
constexpr std::uint32_t TARGET_SEAL_B = 117;

// One run of the target image: `length` bytes at `target_offset`, taken
// from the source at `source_offset`, or from `fixed` when that is set.
struct TargetRun {
    std::size_t target_offset;
    std::size_t length;
    std::size_t source_offset;
    const unsigned char* fixed;
};

// The image is built inside the loaded source block, starting this far
// into it. There the largest run (source [49,184, 5,229,790)) already lies
// where the image wants it, the header overwrites only source bytes that are
// dropped anyway, and the image ends inside the block.
constexpr std::size_t TARGET_IMAGE_START = 49132;
static_assert(TARGET_IMAGE_START + TARGET_SIZE <= SOURCE_SIZE, "the image fits in the block");

// Every run of the image, in the order fill_target writes them: an order in
// which, with the image inside the source block, no run overwrites source
// bytes that a later run still has to take (checked where it is defined).
extern const TargetRun TARGET_LAYOUT[];
extern const std::size_t TARGET_LAYOUT_RUNS;

// Fills a TARGET_SIZE image from `source` (SOURCE_SIZE bytes) by the layout:
// every byte but the four sealing values, which seal_target stores. The
// image is either a block of its own or lies inside the source block at
// source + TARGET_IMAGE_START; then the source is consumed as it goes.
void fill_target(unsigned char* image, const unsigned char* source);

// Stores the two sealing constants and the two checksums.
void seal_target(unsigned char* image);

// Builds and seals the Quaz save of a loaded source in place inside the
// block of `save` (whose summary was taken when it was loaded) and returns
// the image, TARGET_SIZE bytes at save->image + TARGET_IMAGE_START:
// afterwards the block holds the image, no longer the source. Needing no
// block of its own, building cannot fail.
const unsigned char* build_target(SourceSave* save);

// Writes the image beside the source under the first usable output name,
// replacing what that name held in one step, and records the output in
// `batch` (may be null). Returns CONVERT_OK, or ERR_WRITE_TARGET when no
// name is usable or the image could not be made durable in full; then every
// name holds what it held before. On success `outcome`, when given, gets the
// name written, whether it is a numbered one and, if so, why the plain name
// was passed over.
int32_t write_target(const PlatformOps& os, const unsigned char* image, const char* source_path,
                     BatchFiles* batch = nullptr, FileOutcome* outcome = nullptr);

#endif
