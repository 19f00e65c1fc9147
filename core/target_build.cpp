#include "target_save.h"

#include <algorithm>
#include <array>
#include <cstring>

// GCC and clang on x86 can build the wide sums below for the processors
// that have them, whatever the build's own target.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define M2Q_X86_SUMS 1
#include <immintrin.h>
#endif
// WebAssembly built with SIMD (the page: every browser that runs it has it).
#if defined(__wasm_simd128__)
#define M2Q_WASM_SUMS 1
#include <wasm_simd128.h>
#endif

#include "melno2quaz.h"
#include "little_endian.h"
#include "source_save.h"

namespace {

// Both checksums start inside the header, at its last two (zero) bytes.
constexpr std::size_t CHECKSUM_START = 50;

#ifdef M2Q_X86_SUMS
// Sixteen bytes a step, where the processor has SSE2 (every x86-64 one): the
// sum of absolute differences against zero adds eight bytes into a 64-bit
// lane (at most 2,040 a step, so no lane can overflow on any image). Takes
// whole steps from `*at` on and moves it past them; the caller adds the
// rest. Wider steps gain nothing here: the sum runs at memory speed.
__attribute__((target("sse2"))) std::uint64_t sum_sse2(const unsigned char** at,
                                                       const unsigned char* end)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i lanes[4] = {zero, zero, zero, zero};
    const unsigned char* from = *at;
    for (; end - from >= 64; from += 64) {
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * i));
            lanes[i] = _mm_add_epi64(lanes[i], _mm_sad_epu8(bytes, zero));
        }
    }
    *at = from;
    const __m128i folded =
        _mm_add_epi64(_mm_add_epi64(lanes[0], lanes[1]), _mm_add_epi64(lanes[2], lanes[3]));
    std::array<std::uint64_t, 2> parts;
    std::memcpy(parts.data(), &folded, sizeof parts);
    return parts[0] + parts[1];
}
#endif

#ifdef M2Q_WASM_SUMS
// Thirty-two bytes a step in WebAssembly, taken as 16-bit lanes (low byte
// + 256 * high byte): one accumulator adds the lanes as they are (modulo
// 2^16), another their high bytes alone. After n steps the low bytes sum
// to raw - 256 * high (modulo 2^16, exact while 255 * n < 2^16), and the
// lane's bytes to that plus high, exact while 510 * n < 2^16: n = 128
// steps a round, then the lanes are widened into the total. Two vectors
// a step into two pairs of accumulators, so a step need not wait for the
// last; three operations a vector, against V8's four or more for the
// pairwise widening. Takes whole steps from `*at` on and moves it past
// them; the caller adds the rest.
std::uint64_t sum_simd128(const unsigned char** at, const unsigned char* end)
{
    constexpr std::size_t STEP = 32;
    constexpr std::size_t STEPS_PER_ROUND = 128;
    std::uint64_t total = 0;
    const unsigned char* from = *at;
    while (static_cast<std::size_t>(end - from) >= STEP) {
        const unsigned char* round_end =
            from + STEP * std::min(STEPS_PER_ROUND, static_cast<std::size_t>(end - from) / STEP);
        v128_t raw_a = wasm_i16x8_splat(0), high_a = raw_a, raw_b = raw_a, high_b = raw_a;
        for (; from != round_end; from += STEP) {
            const v128_t a = wasm_v128_load(from);
            const v128_t b = wasm_v128_load(from + 16);
            raw_a = wasm_i16x8_add(raw_a, a);
            high_a = wasm_i16x8_add(high_a, wasm_u16x8_shr(a, 8));
            raw_b = wasm_i16x8_add(raw_b, b);
            high_b = wasm_i16x8_add(high_b, wasm_u16x8_shr(b, 8));
        }
        const v128_t lanes_a = wasm_i16x8_add(wasm_i16x8_sub(raw_a, wasm_i16x8_shl(high_a, 8)), high_a);
        const v128_t lanes_b = wasm_i16x8_add(wasm_i16x8_sub(raw_b, wasm_i16x8_shl(high_b, 8)), high_b);
        const v128_t quads =
            wasm_i32x4_add(wasm_u32x4_extadd_pairwise_u16x8(lanes_a), wasm_u32x4_extadd_pairwise_u16x8(lanes_b));
        total += std::uint64_t{wasm_u32x4_extract_lane(quads, 0)} + wasm_u32x4_extract_lane(quads, 1) +
                 wasm_u32x4_extract_lane(quads, 2) + wasm_u32x4_extract_lane(quads, 3);
    }
    *at = from;
    return total;
}
#endif

// The sum of the bytes in [begin, end), modulo 2^32. The image sum runs
// over 5 MB for every file, so it is one pass at the widest step the
// processor offers: 16 or 32 bytes (where built for x86 or WebAssembly SIMD), then eight bytes
// at a time in 16-bit lanes of a 64-bit word (at most 510 per word, so 128
// words fit before a lane could overflow; the lanes are folded into the
// total after each round), then byte by byte.
std::uint32_t byte_sum(const unsigned char* begin, const unsigned char* end)
{
    std::uint64_t total = 0;
    const unsigned char* at = begin;
#ifdef M2Q_X86_SUMS
    if (__builtin_cpu_supports("sse2")) {
        total += sum_sse2(&at, end);
    }
#endif
#ifdef M2Q_WASM_SUMS
    total += sum_simd128(&at, end);
#endif
    constexpr std::uint64_t LOW_BYTES = 0x00FF00FF00FF00FFull;
    constexpr std::uint64_t LOW_HALVES = 0x0000FFFF0000FFFFull;
    constexpr std::size_t WORDS_PER_ROUND = 128;
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
    // In the source block a run may overlap the place it comes from, and the
    // largest one is already where it belongs: nothing to move there.
    for (std::size_t i = 0; i < TARGET_LAYOUT_RUNS; ++i) {
        const TargetRun& run = TARGET_LAYOUT[i];
        const unsigned char* from = run.fixed != nullptr ? run.fixed : source + run.source_offset;
        unsigned char* to = image + run.target_offset;
        if (from != to) {
            std::memmove(to, from, run.length);
        }
    }
}

void seal_target(unsigned char* image)
{
    // The header checksum covers the sealing constants as well as its own
    // range; the image checksum covers the stored header checksum and adds
    // the constants once more.
    std::uint32_t header = byte_sum(image + CHECKSUM_START, image + TARGET_HEADER_CHECKSUM_OFFSET);
    store_le32(image + TARGET_SEAL_A_OFFSET, TARGET_SEAL_A);
    store_le32(image + TARGET_SEAL_B_OFFSET, TARGET_SEAL_B);
    header += TARGET_SEAL_A + TARGET_SEAL_B;
    store_le32(image + TARGET_HEADER_CHECKSUM_OFFSET, header);

    std::uint32_t whole = byte_sum(image + CHECKSUM_START, image + TARGET_IMAGE_CHECKSUM_OFFSET);
    whole += TARGET_SEAL_A + TARGET_SEAL_B;
    store_le32(image + TARGET_IMAGE_CHECKSUM_OFFSET, whole);
}

const unsigned char* build_target(SourceSave* save)
{
    unsigned char* image = save->image + TARGET_IMAGE_START;
    fill_target(image, save->image);
    seal_target(image);
    return image;
}
