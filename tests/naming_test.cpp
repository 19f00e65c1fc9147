// Splitting paths by characters of the ANSI code page, and choosing the
// output name beside the source.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "source_save.h"
#include "fault_platform.h"
#include "memory_platform.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using m2q_test::FaultyPlatform;
using m2q_test::TempFolder;

struct Split {
    std::string drive;
    std::string directory;
    std::string base;
    std::string extension;
    bool cut;
};

// Windows rules unless `windows_paths` says otherwise, on every platform.
Split split(const char* path, bool (*lead)(unsigned char) = cp932_is_lead_byte,
            bool windows_paths = true) {
    const MemoryPlatform memory(lead == cp932_is_lead_byte, windows_paths);
    PathParts parts;
    std::memset(&parts, 0x5A, sizeof parts);
    split_path(memory.ops, path, &parts);
    EXPECT_NE(std::memchr(parts.drive, '\0', sizeof parts.drive), nullptr);
    EXPECT_NE(std::memchr(parts.directory, '\0', sizeof parts.directory), nullptr);
    EXPECT_NE(std::memchr(parts.base_name, '\0', sizeof parts.base_name), nullptr);
    EXPECT_NE(std::memchr(parts.extension, '\0', sizeof parts.extension), nullptr);
    return Split{parts.drive, parts.directory, parts.base_name, parts.extension, parts.cut};
}

Split split(const std::string& path, bool (*lead)(unsigned char) = cp932_is_lead_byte,
            bool windows_paths = true) {
    return split(path.c_str(), lead, windows_paths);
}

void expect_split(const std::string& path, const std::string& drive, const std::string& directory,
                  const std::string& base, const std::string& extension,
                  bool (*lead)(unsigned char) = cp932_is_lead_byte, bool windows_paths = true) {
    const Split got = split(path, lead, windows_paths);
    EXPECT_EQ(got.drive, drive) << "drive of " << m2q_test::show_bytes(path);
    EXPECT_EQ(got.directory, directory) << "directory of " << m2q_test::show_bytes(path);
    EXPECT_EQ(got.base, base) << "base name of " << m2q_test::show_bytes(path);
    EXPECT_EQ(got.extension, extension) << "extension of " << m2q_test::show_bytes(path);
    EXPECT_FALSE(got.cut) << m2q_test::show_bytes(path);
}

// Drives, folders, base names and extensions; dots, "." and ".." (which
// belong to the directory); both separators; a colon that is a drive only
// as the second byte; double-byte characters, whose second byte (0x5C, '.',
// ':') is never a separator, a dot or a colon; a single-byte code page,
// which splits every byte; and POSIX rules, where only '/' separates
// folders and "C:" is part of a name.
TEST(SplitPath, PartsOfEveryKindOfPath) {
    const auto sjis = cp932_is_lead_byte;
    const auto single = single_byte_is_lead_byte;
    const struct {
        std::string path, drive, directory, base, extension;
        bool (*lead)(unsigned char);
        bool windows_paths;
    } rows[] = {
        {"C:\\saves\\city.psu", "C:", "\\saves\\", "city", ".psu", sjis, true},
        {"D:\\x\\my.save.psu", "D:", "\\x\\", "my.save", ".psu", sjis, true},
        {"E:/saves/city", "E:", "/saves/", "city", "", sjis, true},
        {"city.psu", "", "", "city", ".psu", sjis, true},
        {"city", "", "", "city", "", sjis, true},
        {"/home/user/city.psu", "", "/home/user/", "city", ".psu", sjis, true},
        {"\\\\server\\share\\city.psu", "", "\\\\server\\share\\", "city", ".psu", sjis, true},
        {"", "", "", "", "", sjis, true},
        {"a..b", "", "", "a.", ".b", sjis, true},
        {"x..", "", "", "x.", ".", sjis, true},
        {".psu", "", "", "", ".psu", sjis, true},
        {"C:\\dir.d\\file", "C:", "\\dir.d\\", "file", "", sjis, true},
        {"dir.d/", "", "dir.d/", "", "", sjis, true},
        {".", "", ".", "", "", sjis, true},
        {"..", "", "..", "", "", sjis, true},
        {"C:\\a\\..", "C:", "\\a\\..", "", "", sjis, true},
        {"a/.", "", "a/.", "", "", sjis, true},
        {"C:..", "C:", "..", "", "", sjis, true},
        {"C:/a\\b/c.d", "C:", "/a\\b/", "c", ".d", sjis, true},
        {"a\\b/c\\d", "", "a\\b/c\\", "d", "", sjis, true},
        {"C:", "C:", "", "", "", sjis, true},
        {"C:city.psu", "C:", "", "city", ".psu", sjis, true},
        {"ab:c.txt", "", "", "ab:c", ".txt", sjis, true},
        {":x", "", "", ":x", "", sjis, true},
        {"C:\\x:y\\z", "C:", "\\x:y\\", "z", "", sjis, true},
        {"C:\\saves\\\x95\x5C.psu", "C:", "\\saves\\", "\x95\x5C", ".psu", sjis, true},  // 表
        {"C:\\\x83\x5C\x83\x5C\\\x83\x5C.psu", "C:", "\\\x83\x5C\x83\x5C\\", "\x83\x5C", ".psu", sjis,
         true},  // ソソ\ソ
        // A lead byte before a byte that cannot trail it stands alone.
        {"\x83.psu", "", "", "\x83", ".psu", sjis, true},
        {"\x81:abc", "\x81:", "", "abc", "", sjis, true},
        {"a\x95/b", "", "a\x95/", "b", "", sjis, true},
        {"C:\\saves\\\x95\x5C.psu", "C:", "\\saves\\\x95\x5C", "", ".psu", single, true},
        // セーブ/city.psu in UTF-8 read in a Shift-JIS locale: it ends in 0x96.
        {"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96/city.psu", "",
         "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96/", "city", ".psu", sjis, false},
        {"back\\slash.psu", "", "", "back\\slash", ".psu", single, false},
        {"C:city.psu", "", "", "C:city", ".psu", single, false},
        {"C:\\saves\\city.psu", "", "", "C:\\saves\\city", ".psu", single, false},
        {"/home/a\\b/c\\d.e", "", "/home/a\\b/", "c\\d", ".e", single, false},
    };
    for (const auto& row : rows) {
        expect_split(row.path, row.drive, row.directory, row.base, row.extension, row.lead,
                     row.windows_paths);
    }
}

TEST(SplitPath, LoneLeadByteBeforeTheTerminatorEndsThePath) {
    // What lies after the terminator must not be taken for part of the path.
    const char path[] = "dir/ab\x95\0/x/y.z";
    expect_split(path, "", "dir/", "ab\x95", "");
}

// P bytes a part holds, S bytes of a path looked at.
constexpr std::size_t P = PATH_PART_SIZE - 1;
constexpr std::size_t S = SPLIT_LIMIT;
static_assert(P % 2 == 1 && S == P + 5, "the cases below are laid out for these sizes");

TEST(SplitPath, PartsAreCutNeverInsideADoubleByteCharacter) {
    const std::string pair = "\x88\x9F";  // 亜
    std::string pairs;
    for (std::size_t i = 0; i < S / 2; ++i) pairs += pair;

    Split got = split("aa" + pairs.substr(0, P + 1));  // the pair at P-1, P would be split
    EXPECT_EQ(got.base, "aa" + pairs.substr(0, P - 3));
    EXPECT_EQ(got.base.size(), P - 1);
    EXPECT_TRUE(got.cut);

    got = split("aaa" + pairs.substr(0, P + 1));  // P bytes end on a whole pair
    EXPECT_EQ(got.base, "aaa" + pairs.substr(0, P - 3));
    EXPECT_EQ(got.base.size(), P);
    EXPECT_TRUE(got.cut);

    got = split("dd" + pairs.substr(0, P - 1) + "/f");  // the directory loses its separator
    EXPECT_EQ(got.directory, "dd" + pairs.substr(0, P - 3));
    EXPECT_EQ(got.base, "f");
    EXPECT_TRUE(got.cut);

    got = split(std::string(P + 2, 'd') + "/f");
    EXPECT_EQ(got.directory, std::string(P, 'd'));
    EXPECT_EQ(got.base, "f");
    EXPECT_TRUE(got.cut);

    got = split("a." + std::string(P + 2, 'x'));
    EXPECT_EQ(got.base, "a");
    EXPECT_EQ(got.extension, "." + std::string(P - 1, 'x'));
    EXPECT_TRUE(got.cut);

    got = split(std::string(P, 'a') + ".psu");
    EXPECT_EQ(got.base, std::string(P, 'a'));
    EXPECT_FALSE(got.cut);

    // A lead byte before 0xFF stands alone, so a cut right after it is at a
    // character boundary.
    got = split(std::string(P - 1, 'a') + "\x95\xFF" + "bb");
    EXPECT_EQ(got.base, std::string(P - 1, 'a') + "\x95");
    EXPECT_TRUE(got.cut);
}

TEST(SplitPath, OnlyTheFirstBytesOfTheLimitAreLookedAt) {
    Split got = split(std::string(S - 1, 'a') + "/b");
    EXPECT_EQ(got.directory, std::string(P, 'a'));
    EXPECT_EQ(got.base, "");
    EXPECT_TRUE(got.cut);

    got = split(std::string(S - 2, 'a') + ".psu");
    EXPECT_EQ(got.base, std::string(P, 'a'));
    EXPECT_EQ(got.extension, ".p");
    EXPECT_TRUE(got.cut);
}

// --- make_output_name -------------------------------------------------------

struct Named {
    bool ok;
    std::string name;
};

Named output_name(const PlatformOps& os, const std::string& source) {
    char output[OUTPUT_PATH_SIZE];
    std::memset(output, 'X', sizeof output);
    const bool ok = make_output_name(os, source.c_str(), "gamedata_", "dat", output);
    EXPECT_NE(std::memchr(output, '\0', sizeof output), nullptr) << "output not terminated";
    return Named{ok, output};
}

TEST(MakeOutputName, PlainNameBesideTheSourceIsChosenWithoutTouchingIt) {
    TempFolder folder;
    ASSERT_TRUE(m2q_test::write_file(folder.file("gamedata_city.dat"), std::string("old content")));
    const Named named = output_name(platform_native(), folder.file("city.psu"));
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.name, folder.file("gamedata_city.dat"));
    EXPECT_EQ(m2q_test::read_text(folder.file("gamedata_city.dat")), "old content");
    EXPECT_EQ(output_name(platform_native(), folder.file("my.save.psu")).name,
              folder.file("gamedata_my.save.dat"));
    EXPECT_EQ(output_name(platform_native(), folder.file("noext")).name,
              folder.file("gamedata_noext.dat"));
}

TEST(MakeOutputName, NumberedNameWhenThePlainOneCannotBeCreated) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "gamedata_city.dat");
    EXPECT_EQ(output_name(platform_native(), folder.file("city.psu")).name,
              folder.file("gamedata_city_1.dat"));
    std::filesystem::remove(folder.path() / "gamedata_city_1.dat");
    std::filesystem::create_directory(folder.path() / "gamedata_city_1.dat");
    EXPECT_EQ(output_name(platform_native(), folder.file("city.psu")).name,
              folder.file("gamedata_city_2.dat"));
}

TEST(MakeOutputName, GivesUpAfterNumber9999) {
    const MemoryPlatform memory;
    FaultyPlatform os(memory.ops);
    m2q_test::Fault fault = m2q_test::fault_on(m2q_test::PlatformCall::look_up, 1, "gamedata_");
    fault.times = m2q_test::FAULT_FOREVER;
    fault.refuse = true;  // every name is taken
    os.add_fault(fault);
    const Named named = output_name(os.ops(), "city.psu");
    EXPECT_FALSE(named.ok);
    EXPECT_EQ(named.name, "");
    EXPECT_EQ(os.calls_for(m2q_test::PlatformCall::look_up, "gamedata_"), 1 + OUTPUT_NAME_MAX_NUMBER);
    ASSERT_FALSE(os.trace().empty());
    EXPECT_EQ(os.trace().back().path, "gamedata_city_9999.dat");
    EXPECT_EQ(os.open_files(), 0u);
}

// A folder that cannot take a new file fails the conversion at once: no
// other numbered name there could do better.
TEST(MakeOutputName, FolderThatCannotTakeANewFileStopsAtOnce) {
    TempFolder folder;
    const std::string source = folder.file("city.psu");
    ASSERT_TRUE(m2q_test::write_file(source, m2q_test::zero_source()));
    FaultyPlatform os(platform_native());
    m2q_test::Fault fault = m2q_test::fault_on(m2q_test::PlatformCall::create_temp);
    fault.times = m2q_test::FAULT_FOREVER;
    os.add_fault(fault);
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(os.ops(), source.c_str(), message), ERR_WRITE_TARGET);
    EXPECT_EQ(os.calls(m2q_test::PlatformCall::create_temp), 1);
    EXPECT_EQ(os.calls_for(m2q_test::PlatformCall::look_up, "gamedata_"), 1);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"city.psu"});
}

// The source's extension is dropped from the output name, so an extension
// too long to be split whole does not shorten the name that is written.
TEST(MakeOutputName, OverlongExtensionOfARelativePathIsDropped) {
    const MemoryPlatform memory;
    const std::string source = "a." + std::string(P + 2, 'x');
    ASSERT_TRUE(split(source).cut);
    // No such file can exist (the name is too long): its owner is told here.
    const OutputOwner owner{false, FileIdentity{}, nullptr};
    int number = 0;
    char output[OUTPUT_PATH_SIZE];
    NameInfo found;
    EXPECT_EQ(find_output_name(memory.ops, source.c_str(), "gamedata_", "dat", owner, &number, output, &found),
              NAME_FOUND);
    EXPECT_STREQ(output, "gamedata_a.dat");
}

// A source path at the limit: its output name, 9 bytes longer, is longer
// than the system's calls take, so the file fails with code 4 and says
// why, leaving nothing.
TEST(MakeOutputName, SourcePathAtTheLimitFailsSayingTheOutputNameWouldBeTooLong) {
    TempFolder folder;
    const std::string path =
        folder.file(std::string(PATH_LIMIT - folder.prefix().size() - 4, 's') + ".psu");
    ASSERT_EQ(path.size(), PATH_LIMIT);
    ASSERT_TRUE(m2q_test::write_file(path, m2q_test::zero_source()));
    FaultyPlatform os(platform_native());
    char message[MESSAGE_SIZE];
    FileOutcome outcome;
    EXPECT_EQ(convert_file(os.ops(), path.c_str(), message, &outcome), ERR_WRITE_TARGET);
    EXPECT_EQ(m2q_test::cp932_to_utf8(message), m2q_test::error_text_utf8(ERR_WRITE_TARGET));
    EXPECT_STREQ(outcome.reason, "the output name would be too long");
    EXPECT_EQ(os.calls(m2q_test::PlatformCall::create_temp), 0);
    EXPECT_EQ(folder.entries().size(), 1u);
    EXPECT_EQ(os.live_blocks(), 0u);
    EXPECT_EQ(os.open_files(), 0u);
}

// Paths of a Shift-JIS locale (POSIX: Windows paths are UTF-8): a name
// whose last byte is 0x5C is converted beside itself. Read byte by byte,
// the 0x5C of 表 is a separator: the base name is lost and the output name
// is glued to the character's first byte.
TEST(MakeOutputName, ShiftJisNamesEndingIn5CStayInTheirFolder) {
    const struct {
        bool cp932;
        bool windows_paths;
        std::string source;
        std::string name;
    } rows[] = {
        {true, false, "/saves/\x95\x5C.psu", "/saves/gamedata_\x95\x5C.dat"},  // 表
        {true, false, "/saves/\x83\x5C.psu", "/saves/gamedata_\x83\x5C.dat"},  // ソ
        {false, true, "\x95\x5C.psu", "\x95\x5Cgamedata_.dat"},
    };
    for (const auto& row : rows) {
        MemoryPlatform memory(row.cp932, row.windows_paths);
        FaultyPlatform os(memory.ops);
        EXPECT_EQ(output_name(os.ops(), row.source).name, row.name);
        EXPECT_GT(os.calls(m2q_test::PlatformCall::lead_byte), 0);
        memory_file(memory, row.source).bytes = m2q_test::zero_source();
        char message[MESSAGE_SIZE];
        ASSERT_EQ(convert_file(os.ops(), row.source.c_str(), message), CONVERT_OK) << message;
        EXPECT_EQ(memory_file(memory, row.name).bytes.size(), 5184406u) << m2q_test::show_bytes(row.name);
    }
}

}  // namespace
