// Loading a Melno save: recognition by size, the summary fields and text,
// and that every path closes the file and leaves nothing allocated.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "melno2quaz.h"
#include "platform.h"
#include "result_codes.h"
#include "source_save.h"
#include "fault_platform.h"
#include "test_support.h"

namespace {

using m2q_test::Bytes;
using m2q_test::FaultyPlatform;
using m2q_test::TempFolder;
using m2q_test::utf8_to_cp932;

struct Loaded {
    int32_t code;
    std::string message;
};

// Loads `path`, checks that the file is closed and (unless loaded) nothing
// is held, and releases the record again.
Loaded load(const std::string& path, SourceSave* keep = nullptr) {
    FaultyPlatform os(platform_native());
    SourceSave save;
    std::memset(&save, 0x5A, sizeof save);
    char message[MESSAGE_SIZE];
    std::memset(message, 'X', sizeof message);
    Loaded result{load_source(os.ops(), path.c_str(), &save, message), {}};
    EXPECT_NE(std::memchr(message, '\0', sizeof message), nullptr) << "message not terminated";
    result.message = message;
    EXPECT_EQ(os.open_files(), 0u) << "the source file is still open";
    if (result.code == CONVERT_OK) {
        EXPECT_NE(save.image, nullptr);
        EXPECT_EQ(os.live_blocks(), 1u);
        if (keep != nullptr) {
            *keep = save;
            keep->image = nullptr;  // the copy does not own the block
        }
        release_source(os.ops(), &save);
        EXPECT_EQ(save.image, nullptr);
    } else {
        EXPECT_EQ(save.image, nullptr);
    }
    EXPECT_EQ(os.live_blocks(), 0u) << "a block stays allocated";
    EXPECT_EQ(os.misuses(), std::vector<std::string>{});
    return result;
}

std::string not_source_text() { return m2q_test::error_text_cp932(ERR_NOT_SOURCE); }

// Files of a wrong size, a folder and a missing file are no saves; nothing
// is created.
TEST(SourceLoading, WrongSizesFoldersAndMissingFilesAreNotMelnoSaves) {
    TempFolder folder;
    std::vector<std::string> paths = {folder.file("folder.psu"), folder.file("missing.psu")};
    std::filesystem::create_directory(folder.path() / "folder.psu");
    for (std::size_t size : {std::size_t{0}, std::size_t{SOURCE_SIZE - 1}, std::size_t{SOURCE_SIZE + 1}}) {
        paths.push_back(folder.file("size" + std::to_string(size) + ".psu"));
        ASSERT_TRUE(m2q_test::write_file(paths.back(), Bytes(size, 0)));
    }
    for (const std::string& path : paths) {
        const Loaded loaded = load(path);
        EXPECT_EQ(loaded.code, ERR_NOT_SOURCE) << path;
        EXPECT_EQ(loaded.message, not_source_text()) << path;
    }
    EXPECT_FALSE(m2q_test::file_exists(folder.file("missing.psu"))) << "the source was created";
}

// The fields and the summary of saves of any content: a known save, every
// byte 0xFF (all fields -1), negative fields, a name starting with a zero
// byte (empty), and a lone lead byte as the 16th byte of the name (kept).
// A name of 16 bytes with no zero after it (0xFF) is shown in full.
TEST(SourceLoading, FieldsAndSummaryOfAnyContent) {
    const std::string name = utf8_to_cp932(u8"新市街");
    const struct {
        Bytes image;
        std::string name;
        std::int32_t map, clock;
        std::int64_t funds;
        std::string time, funds_text;
    } rows[] = {
        {m2q_test::city_source(name, 3, 4021629, 1234567), name, 3, 4021629, 1234567,
         "001.Spring 5  13:07'09", "1,234,567"},
        {Bytes(SOURCE_SIZE, 0xFF), std::string(16, '\xFF'), -1, -1, -1, "000.Winter 4   0:00'-1", "-1"},
        {m2q_test::city_source("x", -5, -1, -123456), "x", -5, -1, -123456, "000.Winter 4   0:00'-1",
         "-123,456"},
        {m2q_test::city_source(std::string("\0ABCDEF", 7), 1, 0, 0), "", 1, 0, 0,
         "000.Winter 4   0:00'00", "0"},
        {m2q_test::city_source("ABCDEFGHIJKLMNO\x93", 0, 0, 0), "ABCDEFGHIJKLMNO\x93", 0, 0, 0,
         "000.Winter 4   0:00'00", "0"},
    };
    TempFolder folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(m2q_test::show_bytes(row.name));
        const std::string path = folder.file("city.psu");
        ASSERT_TRUE(m2q_test::write_file(path, row.image));
        SourceSave save{};
        const Loaded loaded = load(path, &save);
        ASSERT_EQ(loaded.code, CONVERT_OK) << loaded.message;
        EXPECT_EQ(loaded.message, m2q_test::expected_summary(row.name, row.map, row.time, row.funds_text))
            << m2q_test::show_bytes(loaded.message);
        EXPECT_EQ(save.size, SOURCE_SIZE);
        EXPECT_EQ(save.summary.map_number, row.map);
        EXPECT_EQ(save.summary.game_clock, row.clock);
        EXPECT_EQ(save.summary.funds, row.funds);
        EXPECT_EQ(std::string(save.summary.game_time), row.time);
        EXPECT_EQ(std::string(save.summary.funds_text), row.funds_text);
        EXPECT_EQ(std::string(save.summary.city_name), row.name);
    }
}

TEST(SourceLoading, ImageHoldsTheWholeFile) {
    TempFolder folder;
    const std::string path = folder.file("pattern.psu");
    const Bytes source = m2q_test::pattern_source();
    ASSERT_TRUE(m2q_test::write_file(path, source));
    SourceSave save{};
    char message[MESSAGE_SIZE];
    ASSERT_EQ(load_source(platform_native(), path.c_str(), &save, message), CONVERT_OK);
    ASSERT_NE(save.image, nullptr);
    EXPECT_EQ(std::memcmp(save.image, source.data(), SOURCE_SIZE), 0);
    release_source(platform_native(), &save);
}

TEST(SourceLoading, ReleaseTwiceAndReleaseOfAnEmptyRecordAreHarmless) {
    TempFolder folder;
    const std::string path = folder.file("city.psu");
    ASSERT_TRUE(m2q_test::write_file(path, m2q_test::zero_source()));
    FaultyPlatform os(platform_native());
    SourceSave empty{};
    release_source(os.ops(), &empty);
    EXPECT_EQ(empty.image, nullptr);
    EXPECT_EQ(os.misuses(), std::vector<std::string>{});
    SourceSave save{};
    char message[MESSAGE_SIZE];
    ASSERT_EQ(load_source(os.ops(), path.c_str(), &save, message), CONVERT_OK);
    release_source(os.ops(), &save);
    release_source(os.ops(), &save);
    EXPECT_EQ(save.image, nullptr);
    EXPECT_EQ(os.live_blocks(), 0u);
    EXPECT_EQ(os.misuses(), std::vector<std::string>{}) << "a block was freed twice";
}

#ifndef _WIN32
// All 64 bits of the size count: files of 2^32 + 5,233,664 bytes and of
// 2^32 + 5,233,663 are no saves. A sparse file keeps this cheap; a file
// system that will not make one skips it.
TEST(SourceLoading, FilesPast4GiBAreNoSavesWhateverTheirLowBits) {
    TempFolder folder;
    const std::string path = folder.file("huge.psu");
    const Bytes source = m2q_test::pattern_source();
    ASSERT_TRUE(m2q_test::write_file(path, source));
    std::error_code error;
    std::filesystem::resize_file(folder.path() / "huge.psu", (std::uintmax_t{1} << 32) + SOURCE_SIZE, error);
    if (error) GTEST_SKIP() << "no sparse file here: " << error.message();

    for (const std::uintmax_t size : {(std::uintmax_t{1} << 32) + SOURCE_SIZE,
                                      (std::uintmax_t{1} << 32) + SOURCE_SIZE - 1}) {
        std::filesystem::resize_file(folder.path() / "huge.psu", size, error);
        ASSERT_FALSE(error);
        const Loaded loaded = load(path);
        EXPECT_EQ(loaded.code, ERR_NOT_SOURCE) << size;
        EXPECT_EQ(loaded.message, not_source_text());
        char message[MESSAGE_SIZE];
        EXPECT_EQ(convert_file(platform_native(), path.c_str(), message), ERR_NOT_SOURCE);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "gamedata_huge.dat"));
}
#endif

}  // namespace

// The system's table keeps its state in its context, each thread a table
// of its own: a failure on one thread is not another's error text.
TEST(SourceLoading, TwoThreadsNeverMixTheirErrorTexts) {
    TempFolder folder;
    const PlatformOps& here = platform_native();
    here.take_error_text(here.context, nullptr, 0);
    std::promise<void> failed, asked;
    std::string there;
    std::thread other([&] {
        const PlatformOps& os = platform_native();
        EXPECT_EQ(os.open_read(os.context, folder.file("missing.psu").c_str()), NO_FILE);
        failed.set_value();
        asked.get_future().wait();
        char text[REASON_SIZE];
        os.take_error_text(os.context, text, sizeof text);
        there = text;
    });
    failed.get_future().wait();
    char text[REASON_SIZE];
    EXPECT_EQ(here.take_error_text(here.context, text, sizeof text), 0u) << text;
    asked.set_value();
    other.join();
    EXPECT_NE(there, "") << "the failure's words went to another thread";
}
