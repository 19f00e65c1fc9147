// An independent model of the Quaz save, for the tests and the fuzz
// targets: its layout written out from the format itself, not from the
// core's tables, and the image a Melno save becomes by it.
#ifndef MELNO2QUAZ_QUAZ_MODEL_H
#define MELNO2QUAZ_QUAZ_MODEL_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace m2q_model {

using Bytes = std::vector<unsigned char>;

extern const unsigned char HEADER[52];
extern const char FIXED_BLOCK[361];  // 360 bytes and the literal's terminator

// The Quaz layout, row by row: target offset, length, source offset.
struct CarriedRun {
    std::size_t target;
    std::size_t length;
    std::size_t source;
};
extern const CarriedRun CARRIED[7];
constexpr std::size_t FIXED_AT = 5183850;
constexpr std::size_t SEAL_A_AT = 5184210;
constexpr std::size_t SEAL_B_AT = 5184214;
constexpr std::size_t HEADER_SUM_AT = 940;
constexpr std::size_t IMAGE_SUM_AT = 5184398;
constexpr std::size_t QUAZ_SIZE = 5184406;

// Where the summary's fields land in a Quaz save.
constexpr std::size_t CLOCK_AT = 52;
constexpr std::size_t NAME_AT = 375;
constexpr std::size_t FUNDS_AT = 620;
constexpr std::size_t MAP_AT = 932;

// Source bytes that never reach the target (the four at [50072, 50076) are
// carried to 940 and overwritten there by the header checksum).
struct DroppedRun {
    std::size_t begin;
    std::size_t end;
};
extern const DroppedRun DROPPED[8];

// The byte sum of image[begin, end).
std::uint32_t byte_sum(const Bytes& image, std::size_t begin, std::size_t end);

// The Quaz save of the Melno save `source`, into `target`.
void quaz_of(const Bytes& source, Bytes* target);

}  // namespace m2q_model

#endif
