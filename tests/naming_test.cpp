// Splitting paths by characters of the ANSI code page, and choosing the
// output name beside the source.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "source_save.h"
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
    FaultyPlatform os;
    os.set_lead_byte(lead);
    os.set_windows_paths(windows_paths);
    PathParts parts;
    std::memset(&parts, 0x5A, sizeof parts);
    split_path(path, &parts);
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

TEST(SplitPath, DriveDirectoryBaseAndExtension) {
    expect_split("C:\\saves\\city.psu", "C:", "\\saves\\", "city", ".psu");
    expect_split("D:\\x\\my.save.psu", "D:", "\\x\\", "my.save", ".psu");
    expect_split("E:/saves/city", "E:", "/saves/", "city", "");
    expect_split("city.psu", "", "", "city", ".psu");
    expect_split("city", "", "", "city", "");
    expect_split("/home/user/city.psu", "", "/home/user/", "city", ".psu");
    expect_split("\\\\server\\share\\city.psu", "", "\\\\server\\share\\", "city", ".psu");
    expect_split("", "", "", "", "");
}

TEST(SplitPath, DotsAndExtensions) {
    expect_split("a..b", "", "", "a.", ".b");
    expect_split("x..", "", "", "x.", ".");
    expect_split(".psu", "", "", "", ".psu");
    expect_split("C:\\dir.d\\file", "C:", "\\dir.d\\", "file", "");
    expect_split("dir.d/", "", "dir.d/", "", "");
}

TEST(SplitPath, DotAndDotDotBelongToTheDirectory) {
    expect_split(".", "", ".", "", "");
    expect_split("..", "", "..", "", "");
    expect_split("C:\\a\\..", "C:", "\\a\\..", "", "");
    expect_split("a/.", "", "a/.", "", "");
    expect_split("C:..", "C:", "..", "", "");
}

TEST(SplitPath, MixedSeparators) {
    expect_split("C:/a\\b/c.d", "C:", "/a\\b/", "c", ".d");
    expect_split("a\\b/c\\d", "", "a\\b/c\\", "d", "");
}

TEST(SplitPath, ColonOnlyMakesADriveAsSecondByte) {
    expect_split("C:", "C:", "", "", "");
    expect_split("C:city.psu", "C:", "", "city", ".psu");
    expect_split("ab:c.txt", "", "", "ab:c", ".txt");
    expect_split(":x", "", "", ":x", "");
    expect_split("C:\\x:y\\z", "C:", "\\x:y\\", "z", "");
}

// 0x5C as the second byte of a double-byte character is no separator.
TEST(SplitPath, DoubleByteCharactersAreNeverSeparatorsDotsOrColons) {
    expect_split("C:\\saves\\\x95\x5C.psu", "C:", "\\saves\\", "\x95\x5C", ".psu");  // 表
    expect_split("C:\\\x83\x5C\x83\x5C\\\x83\x5C.psu", "C:", "\\\x83\x5C\x83\x5C\\", "\x83\x5C",
                 ".psu");  // ソソ\ソ
    expect_split("\x83.psu", "", "", "\x83.psu", "");
    expect_split("\x81:abc", "", "", "\x81:abc", "");
    expect_split("a\x95/b", "", "", "a\x95/b", "");
}

// On POSIX only '/' separates folders, and "C:" is part of a file name.
TEST(SplitPath, PosixPathsHaveOnlySlashesAndNoDrives) {
    const auto posix = [](const std::string& path, const std::string& directory,
                          const std::string& base, const std::string& extension) {
        expect_split(path, "", directory, base, extension, single_byte_is_lead_byte, false);
    };
    posix("back\\slash.psu", "", "back\\slash", ".psu");
    posix("C:city.psu", "", "C:city", ".psu");
    posix("C:\\saves\\city.psu", "", "C:\\saves\\city", ".psu");
    posix("/home/a\\b/c\\d.e", "/home/a\\b/", "c\\d", ".e");
}

TEST(SplitPath, SingleByteCodePageSplitsEveryByte) {
    expect_split("C:\\saves\\\x95\x5C.psu", "C:", "\\saves\\\x95\x5C", "", ".psu", single_byte_is_lead_byte);
    expect_split("\x83.psu", "", "", "\x83", ".psu", single_byte_is_lead_byte);
    expect_split("\x81:abc", "\x81:", "", "abc", "", single_byte_is_lead_byte);
}

TEST(SplitPath, LoneLeadByteBeforeTheTerminatorEndsThePath) {
    // What lies after the terminator must not be taken for part of the path.
    const char path[] = "dir/ab\x95\0/x/y.z";
    expect_split(path, "", "dir/", "ab\x95", "");
}

TEST(SplitPath, PartsAreCutTo255BytesNeverInsideADoubleByteCharacter) {
    const std::string pair = "\x88\x9F";  // 亜
    std::string pairs;
    for (int i = 0; i < 128; ++i) pairs += pair;

    Split got = split("aa" + pairs);  // 258 bytes: the pair at 254-255 would be split
    EXPECT_EQ(got.base, "aa" + pairs.substr(0, 252));
    EXPECT_EQ(got.base.size(), 254u);
    EXPECT_TRUE(got.cut);

    got = split("aaa" + pairs);  // 259 bytes: 255 of them end on a whole pair
    EXPECT_EQ(got.base, "aaa" + pairs.substr(0, 252));
    EXPECT_EQ(got.base.size(), 255u);
    EXPECT_TRUE(got.cut);

    got = split("dd" + pairs.substr(0, 254) + "/f");  // the directory loses its separator
    EXPECT_EQ(got.directory, "dd" + pairs.substr(0, 252));
    EXPECT_EQ(got.base, "f");
    EXPECT_TRUE(got.cut);

    got = split(std::string(257, 'd') + "/f");
    EXPECT_EQ(got.directory, std::string(255, 'd'));
    EXPECT_EQ(got.base, "f");
    EXPECT_TRUE(got.cut);

    got = split("a." + std::string(257, 'x'));
    EXPECT_EQ(got.base, "a");
    EXPECT_EQ(got.extension, "." + std::string(254, 'x'));
    EXPECT_TRUE(got.cut);

    got = split(std::string(255, 'a') + ".psu");
    EXPECT_EQ(got.base, std::string(255, 'a'));
    EXPECT_FALSE(got.cut);

    // A lead byte before 0xFF stands alone, so a cut right after it is at a
    // character boundary.
    got = split(std::string(254, 'a') + "\x95\xFF" + "bb");
    EXPECT_EQ(got.base, std::string(254, 'a') + "\x95");
    EXPECT_TRUE(got.cut);
}

TEST(SplitPath, OnlyTheFirst260BytesAreLookedAt) {
    Split got = split(std::string(259, 'a') + "/b");
    EXPECT_EQ(got.directory, std::string(255, 'a'));
    EXPECT_EQ(got.base, "");
    EXPECT_TRUE(got.cut);

    got = split(std::string(258, 'a') + ".psu");
    EXPECT_EQ(got.base, std::string(255, 'a'));
    EXPECT_EQ(got.extension, ".p");
    EXPECT_TRUE(got.cut);
}

// --- make_output_name -------------------------------------------------------

struct Named {
    bool ok;
    std::string name;
};

Named output_name(const std::string& source) {
    char output[OUTPUT_PATH_SIZE];
    std::memset(output, 'X', sizeof output);
    const bool ok = make_output_name(source.c_str(), "gamedata_", "dat", output);
    EXPECT_NE(std::memchr(output, '\0', sizeof output), nullptr) << "output not terminated";
    return Named{ok, output};
}

bool shift_jis_names_work() {
#ifdef _WIN32
    return GetACP() == 932;
#else
    return true;
#endif
}

TEST(MakeOutputName, PlainNameBesideTheSourceIsChosenWithoutTouchingIt) {
    TempFolder folder;
    ASSERT_TRUE(m2q_test::write_file(folder.file("gamedata_city.dat"), std::string("old content")));
    const Named named = output_name(folder.file("city.psu"));
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.name, folder.file("gamedata_city.dat"));
    EXPECT_EQ(m2q_test::read_text(folder.file("gamedata_city.dat")), "old content");
    EXPECT_EQ(output_name(folder.file("my.save.psu")).name, folder.file("gamedata_my.save.dat"));
    EXPECT_EQ(output_name(folder.file("noext")).name, folder.file("gamedata_noext.dat"));
}

TEST(MakeOutputName, NumberedNameWhenThePlainOneCannotBeCreated) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "gamedata_city.dat");
    EXPECT_EQ(output_name(folder.file("city.psu")).name, folder.file("gamedata_city_1.dat"));
    std::filesystem::remove(folder.path() / "gamedata_city_1.dat");
    std::filesystem::create_directory(folder.path() / "gamedata_city_1.dat");
    EXPECT_EQ(output_name(folder.file("city.psu")).name, folder.file("gamedata_city_2.dat"));
}

TEST(MakeOutputName, GivesUpAfterNumber9999) {
    TempFolder folder;
    FaultyPlatform os;
    m2q_test::Fault fault;
    fault.call = m2q_test::PlatformCall::look_up;
    fault.path_part = "gamedata_";
    fault.times = m2q_test::FAULT_FOREVER;
    fault.refuse = true;  // every name is taken
    os.add_fault(fault);
    const Named named = output_name(folder.file("city.psu"));
    EXPECT_FALSE(named.ok);
    EXPECT_EQ(named.name, "");
    EXPECT_EQ(os.calls_on(m2q_test::PlatformCall::look_up, "gamedata_"), 1 + OUTPUT_NAME_MAX_NUMBER);
    ASSERT_FALSE(os.trace().empty());
    EXPECT_EQ(os.trace().back().path, folder.file("gamedata_city_9999.dat"));
    EXPECT_EQ(os.open_files(), 0u);
}

// A folder that cannot take a new file fails the conversion at once: no
// other numbered name there could do better.
TEST(MakeOutputName, FolderThatCannotTakeANewFileStopsAtOnce) {
    TempFolder folder;
    const std::string source = folder.file("city.psu");
    ASSERT_TRUE(m2q_test::write_file(source, m2q_test::zero_source()));
    FaultyPlatform os;
    m2q_test::Fault fault = m2q_test::fault_on(m2q_test::PlatformCall::create_temp);
    fault.times = m2q_test::FAULT_FOREVER;
    os.add_fault(fault);
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(source.c_str(), message), ERR_WRITE_TARGET);
    EXPECT_EQ(os.calls(m2q_test::PlatformCall::create_temp), 1);
    EXPECT_EQ(os.calls_on(m2q_test::PlatformCall::look_up, "gamedata_"), 1);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"city.psu"});
}

TEST(MakeOutputName, ComposedNameLongerThan263BytesIsRefused) {
    TempFolder folder;
    const std::size_t dir = folder.prefix().size();
    ASSERT_GE(dir, 8u);
    ASSERT_LE(dir, 200u);
    // prefix + "gamedata_" + base + ".dat" is dir + 13 + base bytes.
    const std::string fits = std::string(263 - 13 - dir, 'f');
    const std::string too_long = std::string(264 - 13 - dir, 'g');

    Named named = output_name(folder.file(too_long + ".psu"));
    EXPECT_FALSE(named.ok);
    EXPECT_EQ(named.name, "");
    EXPECT_TRUE(folder.entries().empty()) << "something was created";

    // The plain name fits; "_1" would be 265 bytes and is never tried.
    {
        FaultyPlatform os;
        m2q_test::Fault fault;
        fault.call = m2q_test::PlatformCall::look_up;
        fault.path_part = "gamedata_";
        fault.times = m2q_test::FAULT_FOREVER;
        fault.refuse = true;
        os.add_fault(fault);
        named = output_name(folder.file(fits + ".psu"));
        EXPECT_FALSE(named.ok);
        EXPECT_EQ(named.name, "");
        ASSERT_EQ(os.calls_on(m2q_test::PlatformCall::look_up, "gamedata_"), 1);
        EXPECT_EQ(os.trace().back().path, folder.file("gamedata_" + fits + ".dat"));
    }

#ifndef _WIN32
    // (Win32 itself refuses paths of MAX_PATH bytes and more.)
    named = output_name(folder.file(fits + ".psu"));
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.name.size(), 263u);
    EXPECT_EQ(named.name, folder.file("gamedata_" + fits + ".dat"));
#endif
}

// The source's extension is dropped from the output name, so an extension
// too long to be split whole does not shorten the name that is written.
TEST(MakeOutputName, OverlongExtensionOfARelativePathIsDropped) {
    TempFolder folder;
    m2q_test::CurrentFolderGuard in_folder(folder.path());
    const std::string source = "a." + std::string(257, 'x');
    ASSERT_TRUE(split(source).cut);
    const Named named = output_name(source);
    EXPECT_TRUE(named.ok);
    EXPECT_EQ(named.name, "gamedata_a.dat");
}

TEST(MakeOutputName, SourcePathOf259BytesCannotBeConvertedAndLeavesNothing) {
    TempFolder folder;
    const std::string path = folder.file(std::string(259 - folder.prefix().size() - 4, 's') + ".psu");
    ASSERT_EQ(path.size(), 259u);
    ASSERT_TRUE(m2q_test::write_file(path, m2q_test::zero_source()));
    FaultyPlatform os;
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(path.c_str(), message), ERR_WRITE_TARGET);
    EXPECT_EQ(m2q_test::cp932_to_utf8(message), m2q_test::error_text_utf8(ERR_WRITE_TARGET));
    EXPECT_EQ(folder.entries().size(), 1u);
    EXPECT_EQ(os.live_blocks(), 0u);
    EXPECT_EQ(os.open_files(), 0u);
}

TEST(MakeOutputName, ShiftJisNameEndingIn5CStaysInItsFolder) {
    if (!shift_jis_names_work()) GTEST_SKIP() << "the ANSI code page is not 932";
    TempFolder folder;
    FaultyPlatform os;
    os.set_lead_byte(cp932_is_lead_byte);
    for (const std::string base : {"\x95\x5C", "\x83\x5C"}) {  // 表, ソ
        const Named named = output_name(folder.file(base + ".psu"));
        ASSERT_TRUE(named.ok);
        EXPECT_EQ(named.name, folder.file("gamedata_" + base + ".dat"));
    }
    EXPECT_GT(os.calls(m2q_test::PlatformCall::lead_byte), 0);
}

TEST(MakeOutputName, ShiftJisSourceIsConvertedBesideItself) {
    if (!shift_jis_names_work()) GTEST_SKIP() << "the ANSI code page is not 932";
    TempFolder folder;
    const std::string source = folder.file("\x95\x5C.psu");  // 表.psu
    ASSERT_TRUE(m2q_test::write_file(source, m2q_test::zero_source()));
    FaultyPlatform os;
    os.set_lead_byte(cp932_is_lead_byte);
    char message[MESSAGE_SIZE];
    ASSERT_EQ(convert_file(source.c_str(), message), CONVERT_OK) << message;
    EXPECT_EQ(std::filesystem::file_size(m2q_test::from_narrow(folder.file("gamedata_\x95\x5C.dat"))),
              5184406u);
}

#ifndef _WIN32
// Read byte by byte, the 0x5C of 表 is a separator: the base name is lost
// and the output name is glued to the character's first byte. On POSIX the
// backslash is an ordinary byte, so the result still lands in the folder.
TEST(MakeOutputName, SingleByteSplittingLosesTheBaseName) {
    TempFolder folder;
    FaultyPlatform os;
    os.set_lead_byte(single_byte_is_lead_byte);
    os.set_windows_paths(true);
    const Named named = output_name(folder.file("\x95\x5C.psu"));
    ASSERT_TRUE(named.ok);
    EXPECT_EQ(named.name, folder.file("\x95\x5Cgamedata_.dat"));
}
#endif

}  // namespace
