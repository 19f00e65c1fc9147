// make_melno_save: writes a synthetic Melno save with chosen summary fields.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "sample_save.h"

namespace {

const char USAGE[] =
    "Usage: make_melno_save [OPTION]... FILE\n"
    "Writes a synthetic Melno save to FILE.\n"
    "\n"
    "  --name TEXT      city name as the bytes of TEXT (at most 16 bytes)\n"
    "  --name-hex HEX   city name as hexadecimal bytes, e.g. \"93 8c 8b 9e\"\n"
    "  --map N          map number (signed 32-bit, default 0)\n"
    "  --clock N        game clock in seconds (signed 32-bit, default 0)\n"
    "  --funds N        funds (signed 64-bit, default 0)\n"
    "  --fill BYTE      every other byte is BYTE (0-255, decimal or 0x.., default 0)\n"
    "  --pattern        every other byte depends on its offset\n"
    "  --no-fields      leave the summary fields to the fill as well\n"
    "  --size N         file size in bytes (default 5233664)\n"
    "  --help           show this help\n";

int usage_error(const char* what, const char* argument) {
    std::fprintf(stderr, "make_melno_save: %s '%s'\nTry 'make_melno_save --help'.\n", what,
                 argument);
    return 2;
}

// Decimal, or hexadecimal after "0x".
int number_base(const char* text) {
    if (*text == '-' || *text == '+') ++text;
    return (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 16 : 10;
}

bool parse_signed(const char* text, long long low, long long high, long long* value) {
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, number_base(text));
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool parse_size(const char* text, std::uint64_t* value) {
    if (*text == '-') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, number_base(text));
    if (errno != 0 || end == text || *end != '\0') return false;
    *value = parsed;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SampleSave save = sample_save_defaults();
    const char* output = nullptr;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--pattern") {
            save.fill = SAMPLE_FILL_PATTERN;
            continue;
        }
        if (arg == "--no-fields") {
            save.write_fields = false;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            if (i + 1 >= argc) return usage_error("missing value for", argv[i]);
            const char* value = argv[++i];
            long long number = 0;
            if (arg == "--name") {
                if (!sample_set_name(&save, value)) return usage_error("name longer than 16 bytes:", value);
            } else if (arg == "--name-hex") {
                if (!sample_set_name_hex(&save, value)) return usage_error("bad hexadecimal name", value);
            } else if (arg == "--map") {
                if (!parse_signed(value, INT32_MIN, INT32_MAX, &number)) return usage_error("bad map number", value);
                save.map_number = static_cast<std::int32_t>(number);
            } else if (arg == "--clock") {
                if (!parse_signed(value, INT32_MIN, INT32_MAX, &number)) return usage_error("bad clock", value);
                save.game_clock = static_cast<std::int32_t>(number);
            } else if (arg == "--funds") {
                if (!parse_signed(value, INT64_MIN, INT64_MAX, &number)) return usage_error("bad funds", value);
                save.funds = number;
            } else if (arg == "--fill") {
                if (!parse_signed(value, 0, 255, &number)) return usage_error("bad fill byte", value);
                save.fill = SAMPLE_FILL_CONSTANT;
                save.fill_byte = static_cast<unsigned char>(number);
            } else if (arg == "--size") {
                if (!parse_size(value, &save.size)) return usage_error("bad size", value);
            } else {
                --i;
                return usage_error("unknown option", argv[i]);
            }
            continue;
        }
        if (arg == "--") {
            if (i + 1 < argc) output = argv[++i];
            if (i + 1 < argc) return usage_error("more than one file given, extra:", argv[i + 1]);
            break;
        }
        if (output != nullptr) return usage_error("more than one file given, extra:", argv[i]);
        output = argv[i];
    }
    if (output == nullptr) {
        std::fputs("make_melno_save: no output file given\nTry 'make_melno_save --help'.\n", stderr);
        return 2;
    }
    if (!sample_write_file(save, output)) {
        std::fprintf(stderr, "make_melno_save: cannot write '%s': %s\n", output, std::strerror(errno));
        return 1;
    }
    return 0;
}
