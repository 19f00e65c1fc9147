#include "target_save.h"

#include <algorithm>
#include <cstring>

#include "melno2quaz.h"
#include "platform.h"
#include "result_codes.h"
#include "source_save.h"

namespace {

// Both checksums start inside the header, at its last two (zero) bytes.
constexpr std::size_t CHECKSUM_START = 50;

void store_uint32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The sum of the bytes in [begin, end), modulo 2^32. The image sum runs
// over 5 MB for every file, so it goes eight bytes at a time: each 64-bit
// word is split into its even and odd bytes, which add up as four 16-bit
// lanes (at most 510 per word, so 128 words fit before a lane could
// overflow); the lanes are then folded into the total.
std::uint32_t byte_sum(const unsigned char* begin, const unsigned char* end)
{
    constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFull;
    constexpr std::uint64_t LOW_HALVES = 0x0000FFFF0000FFFFull;
    constexpr std::size_t WORDS_PER_ROUND = 128;

    std::uint64_t total = 0;
    const unsigned char* at = begin;
    while (static_cast<std::size_t>(end - at) >= 8) {
        const std::size_t words =
            std::min(WORDS_PER_ROUND, static_cast<std::size_t>(end - at) / 8);
        std::uint64_t lanes = 0;
        for (std::size_t i = 0; i < words; ++i) {
            std::uint64_t word;
            std::memcpy(&word, at + 8 * i, 8);
            lanes += (word & LOW_BYTES) + ((word >> 8) & LOW_BYTES);
        }
        at += 8 * words;
        lanes = (lanes & LOW_HALVES) + ((lanes >> 16) & LOW_HALVES);
        total += (lanes & 0xFFFFFFFFull) + (lanes >> 32);
    }
    for (; at != end; ++at) {
        total += *at;
    }
    return static_cast<std::uint32_t>(total);
}

}  // namespace

void fill_target(unsigned char* image, const unsigned char* source)
{
    for (std::size_t i = 0; i < TARGET_LAYOUT_RUNS; ++i) {
        const TargetRun& run = TARGET_LAYOUT[i];
        const unsigned char* from = run.fixed != nullptr ? run.fixed : source + run.source_offset;
        std::memcpy(image + run.target_offset, from, run.length);
    }
}

void seal_target(unsigned char* image)
{
    // The header checksum covers the sealing constants as well as its own
    // range; the image checksum covers the stored header checksum and adds
    // the constants once more.
    std::uint32_t header = byte_sum(image + CHECKSUM_START, image + TARGET_HEADER_CHECKSUM_OFFSET);
    store_uint32(image + TARGET_SEAL_A_OFFSET, TARGET_SEAL_A);
    store_uint32(image + TARGET_SEAL_B_OFFSET, TARGET_SEAL_B);
    header += TARGET_SEAL_A + TARGET_SEAL_B;
    store_uint32(image + TARGET_HEADER_CHECKSUM_OFFSET, header);

    std::uint32_t whole = byte_sum(image + CHECKSUM_START, image + TARGET_IMAGE_CHECKSUM_OFFSET);
    whole += TARGET_SEAL_A + TARGET_SEAL_B;
    store_uint32(image + TARGET_IMAGE_CHECKSUM_OFFSET, whole);
}

int32_t build_target(const char* path, const SourceSave* save, char* message,
                     FileOutcome* outcome)
{
    const PlatformOps& os = platform();
    auto* image = static_cast<unsigned char*>(os.alloc_zeroed(TARGET_SIZE));
    if (image == nullptr) {
        set_result_text(ERR_WORK_MEMORY, message);
        return ERR_WORK_MEMORY;
    }
    fill_target(image, save->image);
    seal_target(image);
    const int32_t code = write_target(image, path, outcome);
    os.free_block(image);
    if (code != CONVERT_OK) {
        set_result_text(code, message);
    }
    return code;
}
