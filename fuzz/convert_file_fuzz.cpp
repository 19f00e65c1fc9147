// convert_file on a Melno save of the right size with any contents: the
// input, repeated, fills all 5,233,664 bytes. The file system is in memory.
// Checks that the file converts, that the Quaz save equals the tests'
// independent model of the format (tests/quaz_model.h),
// that the summary shows the four fields, and that nothing leaks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fault_platform.h"
#include "funds.h"
#include "game_time.h"
#include "melno2quaz.h"
#include "memory_platform.h"
#include "source_save.h"
#include "target_save.h"
#include "quaz_model.h"
#include "require.h"

namespace {

const char SOURCE_PATH[] = "C:\\saves\\city.psu";
const char OUTPUT_PATH[] = "C:\\saves\\gamedata_city.dat";

std::uint64_t little_endian(const unsigned char* at, int width)
{
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

// 都市名:%s\r\n  マップ:%d\r\n  時  間:%s\r\n  資  金:%s\r\n
std::string expected_summary(const std::vector<unsigned char>& source)
{
    const char* name = reinterpret_cast<const char*>(&source[49507]);
    const auto map = static_cast<std::int32_t>(little_endian(&source[50064], 4));
    const auto clock = static_cast<std::int32_t>(little_endian(&source[49184], 4));
    const auto funds = static_cast<std::int64_t>(little_endian(&source[49752], 8));
    char time_text[GAME_TIME_TEXT_SIZE];
    format_game_time(clock, time_text, sizeof time_text);
    char funds_text[FUNDS_TEXT_SIZE];
    format_funds(funds, funds_text, sizeof funds_text);
    return std::string("\x93\x73\x8E\x73\x96\xBC:") + std::string(name, strnlen(name, 16)) +
           "\r\n  \x83\x7D\x83\x62\x83\x76:" + std::to_string(map) +
           "\r\n  \x8E\x9E  \x8A\xD4:" + time_text + "\r\n  \x8E\x91  \x8B\xE0:" + funds_text +
           "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input repeated: copied once, then the filled part doubled. The
    // buffers live on from run to run.
    static std::vector<unsigned char> source;
    static std::vector<unsigned char> expected;
    source.assign(SOURCE_SIZE, 0);
    if (size > 0) {
        std::size_t filled = std::min<std::size_t>(size, SOURCE_SIZE);
        std::memcpy(source.data(), data, filled);
        while (filled < source.size()) {
            const std::size_t more = std::min(filled, source.size() - filled);
            std::memcpy(&source[filled], source.data(), more);
            filled += more;
        }
    }

    // One file system for every run: its spare blocks spare the fuzzer a
    // fresh 5 MB mapping a run.
    static MemoryPlatform memory;
    memory_platform_reset(memory, true);
    memory_file(memory, SOURCE_PATH).bytes.swap(source);
    char message[MESSAGE_SIZE];
    std::memset(message, 'x', sizeof message);
    // Counted by a table of the tests' own around the memory.
    const m2q_test::FaultyPlatform os(memory.ops);
    const int32_t code = convert_file(os.ops(), SOURCE_PATH, message);
    memory.files[SOURCE_PATH].bytes.swap(source);

    require(code == CONVERT_OK);
    require(os.live_blocks() == 0 && os.open_files() == 0 && os.misuses().empty());
    require(std::memchr(message, '\0', sizeof message) != nullptr);
    require(message == expected_summary(source));

    // The source and one output, nothing else.
    require(memory.files.size() == 2 && source.size() == SOURCE_SIZE);
    const std::vector<unsigned char>& output = memory.files[OUTPUT_PATH].bytes;
    require(output.size() == TARGET_SIZE);
    m2q_model::quaz_of(source, &expected);
    require(output == expected);
    return 0;
}
