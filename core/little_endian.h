// Little-endian fields of the saves, read and written byte by byte, so the
// result is the same on any host.
#ifndef MELNO2QUAZ_LITTLE_ENDIAN_H
#define MELNO2QUAZ_LITTLE_ENDIAN_H

#include <cstddef>
#include <cstdint>

inline std::uint64_t load_le(const unsigned char* at, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = (value << 8) | at[i - 1];
    }
    return value;
}

inline void store_le(unsigned char* at, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

inline std::uint32_t load_le32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(load_le(at, 4));
}

inline std::uint64_t load_le64(const unsigned char* at)
{
    return load_le(at, 8);
}

inline void store_le32(unsigned char* at, std::uint32_t value)
{
    store_le(at, value, 4);
}

#endif
