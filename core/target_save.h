// Building, sealing and writing a Quaz save.
#ifndef MELNO2QUAZ_TARGET_SAVE_H
#define MELNO2QUAZ_TARGET_SAVE_H

#include <cstddef>
#include <cstdint>

struct SourceSave;
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

// Every run that build_target copies, in file order.
extern const TargetRun TARGET_LAYOUT[];
extern const std::size_t TARGET_LAYOUT_RUNS;

// Fills a zeroed TARGET_SIZE image from `source` (SOURCE_SIZE bytes) by
// the layout, without sealing it.
void fill_target(unsigned char* image, const unsigned char* source);

// Stores the two sealing constants and the two checksums.
void seal_target(unsigned char* image);

// Builds, seals and writes the Quaz save for the source at `path`. On
// failure the error text replaces the summary in `message`. Returns
// CONVERT_OK, ERR_WORK_MEMORY or ERR_WRITE_TARGET. `outcome`, when given,
// gets the output's name (see write_target).
int32_t build_target(const char* path, const SourceSave* save, char* message,
                     FileOutcome* outcome = nullptr);

// Writes the image beside the source under the name make_output_name
// picks. Returns CONVERT_OK, or ERR_WRITE_TARGET when no name could be
// created or the image could not be written in full; then no output file is
// left behind. On success `outcome`, when given, gets the name written and
// whether it is a numbered one.
int32_t write_target(const unsigned char* image, const char* source_path,
                     FileOutcome* outcome = nullptr);

#endif
