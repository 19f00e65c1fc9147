// Synthetic Melno saves: the fill, the summary fields on top of it, and
// writing the result in bounded chunks.
#include "sample_save.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "little_endian.h"

namespace {

// One summary field as the bytes it puts into the file.
struct FieldBytes {
    std::uint64_t offset;
    std::size_t length;
    std::array<unsigned char, CITY_NAME_BYTES> bytes;
};

void store_field(std::uint64_t value, std::size_t width, FieldBytes* field) {
    field->length = width;
    store_le(field->bytes.data(), value, width);
}

std::array<FieldBytes, 4> field_bytes(const SampleSave& save) {
    std::array<FieldBytes, 4> fields{};
    fields[0].offset = SOURCE_CLOCK_OFFSET;
    store_field(static_cast<std::uint32_t>(save.game_clock), 4, &fields[0]);
    fields[1].offset = SOURCE_NAME_OFFSET;
    fields[1].length = CITY_NAME_BYTES;
    fields[1].bytes = save.city_name;
    fields[2].offset = SOURCE_FUNDS_OFFSET;
    store_field(static_cast<std::uint64_t>(save.funds), 8, &fields[2]);
    fields[3].offset = SOURCE_MAP_OFFSET;
    store_field(static_cast<std::uint32_t>(save.map_number), 4, &fields[3]);
    return fields;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

SampleSave sample_save_defaults() {
    SampleSave save{};
    save.fill = SAMPLE_FILL_CONSTANT;
    save.fill_byte = 0;
    save.write_fields = true;
    save.size = SOURCE_SIZE;
    return save;
}

unsigned char sample_pattern_byte(std::uint64_t offset) {
    // A well-mixing 32-bit hash (xor-shift and multiply rounds) of the
    // offset, folded to 32 bits first.
    std::uint32_t x = static_cast<std::uint32_t>(offset ^ (offset >> 32));
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return static_cast<unsigned char>(x);
}

bool sample_set_name(SampleSave* save, std::string_view bytes) {
    if (bytes.size() > CITY_NAME_BYTES) return false;
    save->city_name.fill(0);
    std::copy(bytes.begin(), bytes.end(), save->city_name.begin());
    return true;
}

bool sample_set_name_hex(SampleSave* save, std::string_view hex) {
    std::array<unsigned char, CITY_NAME_BYTES> name{};
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < hex.size()) {
        const char c = hex[i];
        if (c == ' ' || c == ':' || c == '-') {
            ++i;
            continue;
        }
        if (i + 1 >= hex.size()) return false;
        const int high = hex_digit(c);
        const int low = hex_digit(hex[i + 1]);
        if (high < 0 || low < 0 || count == CITY_NAME_BYTES) return false;
        name[count++] = static_cast<unsigned char>(high * 16 + low);
        i += 2;
    }
    save->city_name = name;
    return true;
}

void sample_fill_range(const SampleSave& save, std::uint64_t offset, unsigned char* out,
                       std::size_t length) {
    if (save.fill == SAMPLE_FILL_PATTERN) {
        for (std::size_t i = 0; i < length; ++i) out[i] = sample_pattern_byte(offset + i);
    } else {
        std::fill(out, out + length, save.fill_byte);
    }
    if (!save.write_fields) return;

    const std::uint64_t end = offset + length;
    for (const FieldBytes& field : field_bytes(save)) {
        const std::uint64_t from = std::max<std::uint64_t>(field.offset, offset);
        const std::uint64_t to = std::min<std::uint64_t>(field.offset + field.length, end);
        for (std::uint64_t at = from; at < to; ++at) {
            out[at - offset] = field.bytes[at - field.offset];
        }
    }
}

std::vector<unsigned char> sample_bytes(const SampleSave& save) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(save.size));
    sample_fill_range(save, 0, bytes.data(), bytes.size());
    return bytes;
}

bool sample_write_file(const SampleSave& save, const char* path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
    if (!file) return false;

    constexpr std::size_t CHUNK = 1 << 20;
    std::vector<unsigned char> chunk(CHUNK);
    for (std::uint64_t offset = 0; offset < save.size; offset += CHUNK) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK, save.size - offset));
        sample_fill_range(save, offset, chunk.data(), length);
        if (std::fwrite(chunk.data(), 1, length, file.get()) != length) return false;
    }
    return std::fclose(file.release()) == 0;
}
