#include "quaz_model.h"

#include <cstring>

namespace m2q_model {

// The model's own loops over 5 MB carry no coverage probes in the fuzz
// targets: they find no paths, and the probes would make every run several
// times slower.
#if defined(__clang__)
#define M2Q_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define M2Q_NO_COVERAGE
#endif

const unsigned char HEADER[52] = {
    7,   53,  0,   0,   46,  132, 157, 134, 99,  99, 132, 159, 99,  159, 178, 178,
    178, 92,  24,  206, 180, 217, 171, 1,   60,  175, 159, 194, 6,   170, 1,   60,
    175, 159, 194, 7,   206, 1,   56,  37,  214, 101, 84,  168, 1,   48,  112, 56,
    44,  163, 0,   0,
};

const char FIXED_BLOCK[361] =
    "\x00\x00\x80\x3F\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x4D\xED\x45\x3F\x47\x5C\x22\x3F\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x47\x5C\x22\xBF\x4D\xED\x45\x3F\x00\x00\x00\x00"
    "\x00\x00\x9F\xC5\x1C\xB3\x0E\x44\x53\x50\xEA\x46\x00\x00\x80\x3F"
    "\x00\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00"
    "\x00\x00\x80\x3F\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x4D\xED\x45\x3F\x47\x5C\x22\x3F\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x47\x5C\x22\xBF\x4D\xED\x45\x3F\x00\x00\x00\x00"
    "\x00\x00\x9F\xC5\x1B\xB3\x0E\x44\x53\x50\xEA\x46\x00\x00\x80\x3F"
    "\x00\x00\x80\x3F\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x80\x33\xFF\xFF\x7F\x3F\x00\x00\x00\x00"
    "\x00\x00\x00\x00\xFF\xFF\x7F\xBF\x00\x00\x80\x33\x00\x00\x00\x00"
    "\x00\x00\x9F\xC5\x00\x80\x09\x45\x53\x50\xEA\x46\x00\x00\x80\x3F"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x3F\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x4D\xED\x45\x3F"
    "\x47\x5C\x22\x3F\x00\x00\x00\x00\x00\x00\x00\x00\x47\x5C\x22\xBF"
    "\x4D\xED\x45\x3F\x00\x00\x00\x00\x00\x00\x9F\xC5\x1B\xB3\x0E\x44"
    "\x53\x50\xEA\x46\x00\x00\x80\x3F\x00\x00\x80\x3F\x00\x00\x00\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x4D\xED\x45\x3F"
    "\x47\x5C\x22\x3F\x00\x00\x00\x00\x00\x00\x00\x00\x47\x5C\x22\xBF"
    "\x4D\xED\x45\x3F\x00\x00\x00\x00\x00\x00\x9F\xC5\x1B\xB3\x0E\x44"
    "\x53\x50\xEA\x46\x00\x00\x80\x3F\x00\x00\x00\x00\x00\x00\x00\x00"
    "\x00\x00\x20\x41\x00\x00\x20\x41";

const CarriedRun CARRIED[7] = {
    {52, 5180606, 49184},
    {5180658, 56, 5229790},
    {5180714, 56, 5229854},
    {5180770, 56, 5229918},
    {5180826, 41, 5229982},
    {5180867, 2983, 5230031},
    {5184218, 180, 5233022},
};
const DroppedRun DROPPED[8] = {
    {0, 49184},
    {5229846, 5229854},
    {5229910, 5229918},
    {5229974, 5229982},
    {5230023, 5230031},
    {5233014, 5233022},
    {5233202, 5233664},
    {50072, 50076},
};

M2Q_NO_COVERAGE std::uint32_t byte_sum(const Bytes& image, std::size_t begin, std::size_t end)
{
    std::uint64_t sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += image[i];
    }
    return static_cast<std::uint32_t>(sum);
}

namespace {

void put_le32(Bytes* image, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        (*image)[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
    }
}

}  // namespace

M2Q_NO_COVERAGE void quaz_of(const Bytes& source, Bytes* target)
{
    target->assign(QUAZ_SIZE, 0);
    std::memcpy(target->data(), HEADER, sizeof HEADER);
    for (const CarriedRun& run : CARRIED) {
        std::memcpy(target->data() + run.target, source.data() + run.source, run.length);
    }
    std::memcpy(target->data() + FIXED_AT, FIXED_BLOCK, 360);
    put_le32(target, SEAL_A_AT, 60);
    put_le32(target, SEAL_B_AT, 117);
    put_le32(target, HEADER_SUM_AT, byte_sum(*target, 50, HEADER_SUM_AT) + 60 + 117);
    put_le32(target, IMAGE_SUM_AT, byte_sum(*target, 50, IMAGE_SUM_AT) + 60 + 117);
}

}  // namespace m2q_model
