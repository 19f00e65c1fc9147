#include "target_save.h"

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

std::uint32_t byte_sum(const unsigned char* begin, const unsigned char* end)
{
    std::uint32_t sum = 0;
    for (const unsigned char* at = begin; at != end; ++at) {
        sum += *at;
    }
    return sum;
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

int32_t build_target(const char* path, const SourceSave* save, char* message)
{
    const PlatformOps& os = platform();
    auto* image = static_cast<unsigned char*>(os.alloc_zeroed(TARGET_SIZE));
    if (image == nullptr) {
        set_result_text(ERR_WORK_MEMORY, message);
        return ERR_WORK_MEMORY;
    }
    fill_target(image, save->image);
    seal_target(image);
    const int32_t code = write_target(image, path);
    os.free_block(image);
    if (code != CONVERT_OK) {
        set_result_text(code, message);
    }
    return code;
}
