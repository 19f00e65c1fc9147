// The synthetic Melno saves that the other tests, the demo and the
// benchmark are built on, through the library and the make_melno_save tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "process_run.h"
#include "sample_save.h"
#include "test_support.h"
#include "source_save.h"

namespace {

namespace fs = std::filesystem;

bool in_field(std::size_t at) {
    return (at >= SOURCE_CLOCK_OFFSET && at < SOURCE_CLOCK_OFFSET + 4) ||
           (at >= SOURCE_NAME_OFFSET && at < SOURCE_NAME_OFFSET + CITY_NAME_BYTES) ||
           (at >= SOURCE_FUNDS_OFFSET && at < SOURCE_FUNDS_OFFSET + 8) ||
           (at >= SOURCE_MAP_OFFSET && at < SOURCE_MAP_OFFSET + 4);
}

TEST(SampleSave, FieldsLandLittleEndianAtTheirOffsetsOverTheFill) {
    SampleSave save = sample_save_defaults();
    ASSERT_TRUE(sample_set_name(&save, "Harbor"));
    save.map_number = -2;
    save.game_clock = 0x01020304;
    save.funds = -1234567890123LL;
    save.fill_byte = 0xA5;

    const std::vector<unsigned char> bytes = sample_bytes(save);
    ASSERT_EQ(bytes.size(), SOURCE_SIZE);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 49184, bytes.begin() + 49188),
              (std::vector<unsigned char>{0x04, 0x03, 0x02, 0x01}));  // least significant first
    EXPECT_EQ(std::string(bytes.begin() + 49507, bytes.begin() + 49507 + 16),
              std::string("Harbor\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(static_cast<std::int64_t>(m2q_test::get_le64(bytes, 49752)), -1234567890123LL);
    EXPECT_EQ(static_cast<std::int32_t>(m2q_test::get_le32(bytes, 50064)), -2);
    std::size_t other = 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (!in_field(at) && bytes[at] != 0xA5) ++other;
    }
    EXPECT_EQ(other, 0u);

    save.write_fields = false;
    const std::vector<unsigned char> plain = sample_bytes(save);
    EXPECT_EQ(plain, std::vector<unsigned char>(SOURCE_SIZE, 0xA5));
}

TEST(SampleSave, PatternTellsShiftedRunsApart) {
    SampleSave save = sample_save_defaults();
    save.fill = SAMPLE_FILL_PATTERN;
    save.write_fields = false;
    const std::vector<unsigned char> bytes = sample_bytes(save);
    for (std::size_t at : {0u, 49184u, 5233663u}) EXPECT_EQ(bytes[at], sample_pattern_byte(at));
    // A 16-byte run read from a wrong offset differs almost everywhere,
    // whatever the shift (including the layout's own shift of 49,132).
    for (std::uint64_t shift : {1u, 2u, 4u, 8u, 56u, 256u, 4096u, 49132u, 65536u}) {
        for (std::uint64_t from : {0u, 49184u, 5229790u}) {
            int same = 0;
            for (std::uint64_t i = 0; i < 16; ++i) {
                same += sample_pattern_byte(from + i) == sample_pattern_byte(from + shift + i);
            }
            EXPECT_LE(same, 3) << "shift " << shift << " at " << from;
        }
    }
}

TEST(SampleSave, AnyRangeMatchesTheWholeFile) {
    SampleSave save = sample_save_defaults();
    save.fill = SAMPLE_FILL_PATTERN;
    ASSERT_TRUE(sample_set_name_hex(&save, "93 8c 8b 9e"));
    save.funds = 77;
    const std::vector<unsigned char> whole = sample_bytes(save);
    // Ranges that start or end inside a field.
    for (std::size_t from : {0u, 49180u, 49510u, 49755u, 50066u}) {
        std::vector<unsigned char> part(37);
        sample_fill_range(save, from, part.data(), part.size());
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + from)) << from;
    }
}

TEST(SampleSave, NamesAreRawBytesOrHexAndRefusedWhenTooLong) {
    SampleSave save = sample_save_defaults();
    ASSERT_TRUE(sample_set_name_hex(&save, "93 8C:8b-9e"));
    const std::array<unsigned char, 16> tokyo = {0x93, 0x8C, 0x8B, 0x9E};
    EXPECT_EQ(save.city_name, tokyo);
    ASSERT_TRUE(sample_set_name_hex(&save, "41424344454647484950515253545556"));
    EXPECT_EQ(save.city_name[15], 0x56);

    for (const char* bad : {"9", "9g", "938", "0x41", "4142434445464748495051525354555657"}) {
        EXPECT_FALSE(sample_set_name_hex(&save, bad)) << bad;
    }
    EXPECT_FALSE(sample_set_name(&save, "seventeen bytes!!"));
    EXPECT_EQ(save.city_name[15], 0x56);  // a refused name leaves the old one
    EXPECT_TRUE(sample_set_name(&save, ""));
    EXPECT_EQ(save.city_name, (std::array<unsigned char, 16>{}));
}

#ifndef _WIN32

class MakeMelnoSaveTest : public ::testing::Test {
protected:
    ProcessResult run(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {M2Q_MAKE_SAVE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.directory = folder_.string();
        return run_process(argv, options);
    }
    m2q_test::TempFolder temp_;
    const fs::path folder_ = temp_.path();
};

TEST_F(MakeMelnoSaveTest, WritesTheSaveTheLibraryDescribes) {
    const ProcessResult result =
        run({"--name-hex", "93 8c 8b 9e", "--map", "3", "--clock", "-1", "--funds",
             "-9223372036854775808", "--pattern", "city.psu"});
    ASSERT_EQ(result.exit_code, 0) << result.err;

    SampleSave expected = sample_save_defaults();
    ASSERT_TRUE(sample_set_name_hex(&expected, "938c8b9e"));
    expected.map_number = 3;
    expected.game_clock = -1;
    expected.funds = INT64_MIN;
    expected.fill = SAMPLE_FILL_PATTERN;
    EXPECT_TRUE(m2q_test::read_file((folder_ / "city.psu").string()) == sample_bytes(expected));
}

TEST_F(MakeMelnoSaveTest, WritesOtherSizesAndFills) {
    ASSERT_EQ(run({"--size", "5233665", "--fill", "0xff", "--name", "Bay", "big.psu"}).exit_code, 0);
    const std::vector<unsigned char> bytes = m2q_test::read_file((folder_ / "big.psu").string());
    ASSERT_EQ(bytes.size(), 5233665u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes.back(), 0xFF);
    EXPECT_EQ(std::string(bytes.begin() + SOURCE_NAME_OFFSET, bytes.begin() + SOURCE_NAME_OFFSET + 4),
              std::string("Bay\0", 4));

    ASSERT_EQ(run({"--size", "0", "empty.psu"}).exit_code, 0);
    EXPECT_EQ(fs::file_size(folder_ / "empty.psu"), 0u);
}

TEST_F(MakeMelnoSaveTest, BadArgumentsExitTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--map", "3"},
        {"--map", "2147483648", "x.psu"},
        {"--fill", "256", "x.psu"},
        {"--funds", "12abc", "x.psu"},
        {"--size", "-1", "x.psu"},
        {"--name", "seventeen bytes!!", "x.psu"},
        {"--bogus", "x.psu"},
        {"x.psu", "y.psu"},
    };
    for (const std::vector<std::string>& args : bad) {
        const ProcessResult result = run(args);
        EXPECT_EQ(result.exit_code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_TRUE(fs::is_empty(folder_));

    const ProcessResult help = run({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("Usage: make_melno_save"), std::string::npos);
}

#endif

}  // namespace
