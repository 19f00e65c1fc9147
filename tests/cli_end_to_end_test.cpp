// End-to-end tests of the melno2quaz command: the real binary, run in a
// fresh folder, over saves made by the sample library.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <cstdint>
#include <filesystem>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <future>
#include <random>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "melno2quaz.h"
#include "platform.h"
#include "process_run.h"
#include "quaz_model.h"
#include "sample_save.h"
#include "source_save.h"
#include "target_save.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Where the four summary fields land in a Quaz save.
using m2q_model::CLOCK_AT;
using m2q_model::FUNDS_AT;
using m2q_model::MAP_AT;
using m2q_model::NAME_AT;

std::string sjis(const std::string& utf8) { return m2q_test::utf8_to_cp932(utf8); }
std::string utf8(const std::string& cp932) { return m2q_test::cp932_to_utf8(cp932); }

std::string without_cr_lf(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

std::string read_file(const fs::path& path) { return m2q_test::read_text(path.string()); }

// "東京湾市" in Shift-JIS, the city of the valid sample.
const std::string CITY_UTF8 = "東京湾市";
// 13:07'09 on day 45: "001.Spring 1  13:07'09".
constexpr std::int32_t SPRING_CLOCK = 47229 + 86400 * 42;

class CliTest : public ::testing::Test {
protected:

    // A valid save of Tokyo Bay City: map 3, spring clock, funds 1,234,567.
    SampleSave city() const {
        SampleSave save = sample_save_defaults();
        EXPECT_TRUE(sample_set_name(&save, sjis(CITY_UTF8)));
        save.map_number = 3;
        save.game_clock = SPRING_CLOCK;
        save.funds = 1234567;
        save.fill = SAMPLE_FILL_PATTERN;
        return save;
    }

    fs::path make(const std::string& name, const SampleSave& save) const {
        const fs::path path = folder_ / name;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(sample_write_file(save, path.c_str()));
        return path;
    }

    fs::path make_sized(const std::string& name, std::uint64_t size) const {
        SampleSave save = sample_save_defaults();
        save.size = size;
        return make(name, save);
    }

    ProcessResult run(const std::vector<std::string>& args,
                      const std::string& locale = "C.UTF-8", bool stdout_gone = false,
                      const std::string& locale_path = "") const {
        std::vector<std::string> argv = {M2Q_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.directory = folder_.string();
        options.environment = {"LC_ALL=" + locale};
        if (!locale_path.empty()) options.environment.push_back("LOCPATH=" + locale_path);
        options.stdout_gone = stdout_gone;
        options.kill_after_ms = 120000;  // a hang fails the test instead of the run
        ProcessResult result = run_process(argv, options);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.signal, 0);
        return result;
    }

    std::string report() const { return read_file(folder_ / "report.txt"); }

    m2q_test::TempFolder temp_;
    const fs::path folder_ = temp_.path();
};

void expect_city_output(const fs::path& path, const SampleSave& save) {
    ASSERT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_EQ(fs::file_size(path), TARGET_SIZE);
    const m2q_test::Bytes bytes = m2q_test::read_file(path.string());
    ASSERT_EQ(bytes.size(), TARGET_SIZE);
    EXPECT_EQ(static_cast<std::int32_t>(m2q_test::get_le32(bytes, CLOCK_AT)), save.game_clock);
    EXPECT_TRUE(std::equal(save.city_name.begin(), save.city_name.end(), bytes.begin() + NAME_AT));
    EXPECT_EQ(static_cast<std::int64_t>(m2q_test::get_le64(bytes, FUNDS_AT)), save.funds);
    EXPECT_EQ(static_cast<std::int32_t>(m2q_test::get_le32(bytes, MAP_AT)), save.map_number);
}

TEST_F(CliTest, TwoRecordBatchWritesTheReportByteForByteAndShowsItReadably) {
    const SampleSave save = city();
    make("city.psu", save);
    make_sized("notes.txt", SOURCE_SIZE - 1);

    const ProcessResult result = run({"city.psu", "notes.txt"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "");

    const std::string expected =
        m2q_test::expected_record(1, 2, "city.psu", CONVERT_OK,
                                  m2q_test::expected_summary(sjis(CITY_UTF8), 3, "001.Spring 1  13:07'09",
                                                             "1,234,567")) +
        m2q_test::expected_record(2, 2, "notes.txt", ERR_NOT_SOURCE);
    EXPECT_EQ(report(), expected);

    // The terminal shows the same records in UTF-8 with plain line feeds,
    // and the output's path under the converted one.
    std::string shown = without_cr_lf(utf8(expected));
    shown.insert(shown.find("\n\n0002"), "\n  -> gamedata_city.dat");
    EXPECT_EQ(result.out, shown + "1 converted, 1 failed\n");
    EXPECT_NE(result.out.find("  都市名:東京湾市\n"), std::string::npos);

    expect_city_output(folder_ / "gamedata_city.dat", save);
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_notes.dat"));
}

TEST_F(CliTest, ConvertsSeveralSavesBesideTheirSourcesAndExitsZero) {
    SampleSave first = city();
    SampleSave second = city();
    ASSERT_TRUE(sample_set_name_hex(&second, "41 42 43"));
    second.map_number = -7;
    second.funds = -1000;
    const fs::path a = make("saves/a.psu", first);
    const fs::path b = make("other saves/b.save.psu", second);

    const ProcessResult result = run({a.string(), b.string()});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("0001/0002\n  変換元:" + a.string() + "\n"), std::string::npos);
    EXPECT_NE(result.out.find("0002/0002\n  変換元:" + b.string() + "\n  都市名:ABC\n  マップ:-7\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("資  金:-1,000\n"), std::string::npos);
    EXPECT_EQ(result.out.substr(result.out.rfind("2 converted")), "2 converted, 0 failed\n");

    expect_city_output(folder_ / "saves/gamedata_a.dat", first);
    expect_city_output(folder_ / "other saves/gamedata_b.save.dat", second);
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_a.dat"));
}

// A FIFO is never opened (its writer would lose data), and a file 4 GiB
// longer than a save is none: all 64 bits of its size count.
TEST_F(CliTest, FilesThatAreNoSavesAreFailedRecordsAndTheBatchGoesOn) {
    make_sized("short.psu", SOURCE_SIZE - 1);
    make_sized("long.psu", SOURCE_SIZE + 1);
    fs::resize_file(make_sized("huge.psu", 0), (std::uintmax_t{1} << 32) + SOURCE_SIZE);
    fs::create_directory(folder_ / "folder.psu");
    ASSERT_EQ(mkfifo((folder_ / "fifo.psu").c_str(), 0644), 0);
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(watch, (folder_ / "fifo.psu").c_str(), IN_OPEN), 0);
    make("good.psu", city());
    ASSERT_TRUE(m2q_test::write_file((folder_ / "report.txt").string(), std::string("an older report\r\n")));
    const std::string overlong(300, 'p');

    const ProcessResult result = run({"short.psu", "long.psu", "huge.psu", "missing.psu", "folder.psu",
                                      "fifo.psu", overlong, "good.psu"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "");
    const ProcessResult checked = run({"--check", "fifo.psu"});
    EXPECT_EQ(checked.out, "fifo.psu: cannot be opened: Not a regular file\n");
    char event[sizeof(inotify_event) + 256];
    EXPECT_LT(read(watch, event, sizeof event), 0) << "the FIFO was opened";
    close(watch);

    const std::string not_melno = sjis("  Melnoのデータではありません。\n  (Err:2)\r\n\r\n");
    const std::string text = report();
    for (const char* name : {"short.psu", "long.psu", "huge.psu", "missing.psu", "folder.psu",
                             "fifo.psu"}) {
        EXPECT_NE(text.find(sjis("  変換元:") + name + "\r\n" + not_melno), std::string::npos)
            << name;
        EXPECT_FALSE(fs::exists(folder_ / ("gamedata_" + fs::path(name).stem().string() + ".dat")));
    }
    // The over-long argument is refused by its length, recorded in full.
    EXPECT_NE(text.find(sjis("0007/0008\r\n  変換元:") + overlong + "\r\n" +
                        sjis("  パスが長すぎます。\r\n  (Err:6)\r\n\r\n")),
              std::string::npos);
    EXPECT_NE(result.out.find(overlong + "\n  パスが長すぎます。\n  (Err:6)\n"), std::string::npos);
    EXPECT_NE(text.find(sjis("0008/0008\r\n  変換元:good.psu\r\n  都市名:")), std::string::npos);
    EXPECT_TRUE(fs::exists(folder_ / "gamedata_good.dat"));
    EXPECT_EQ(text.rfind("0001/0008", 0), 0u) << "the report replaces the older one";
    EXPECT_EQ(result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1),
              "1 converted, 7 failed\n");
}

// Besides the report's records the terminal tells where each save went and
// why a file failed; the report itself stays as it was.
TEST_F(CliTest, TerminalShowsOutputPathsNumberedNamesReasonsAndOneLinePerField) {
    const SampleSave save = city();
    make("saves/city.psu", save);
    fs::create_directory(folder_ / "saves/gamedata_city.dat");  // the plain name is taken
    fs::create_directory(folder_ / "folder.psu");
    SampleSave broken = city();
    ASSERT_TRUE(sample_set_name_hex(&broken, "41 0A 42 0D 0A 43 09 44"));  // A LF B CR LF C TAB D
    make("broken.psu", broken);
    // A C1 escape (U+009B) and a line end in a path; a path whose output
    // name would pass the limit.
    const std::string odd = "c\xC2\x9B" "31m\r\n0002/0004.psu";
    make(odd, city());
    const std::string deep = std::string(200, 'd') + "/" + std::string(52, 'b') + ".psu";
    make(deep, city());

    const ProcessResult tricky = run({odd, deep});
    EXPECT_NE(tricky.out.find("  変換元:c?31m??0002/0004.psu\n  都市名:"), std::string::npos) << tricky.out;
    EXPECT_NE(tricky.out.find("  -> c?31m??0002/gamedata_0004.dat\n"), std::string::npos) << tricky.out;
    EXPECT_NE(tricky.out.find("(Err:4)\n  the output name would be too long\n"), std::string::npos)
        << tricky.out;
    EXPECT_NE(report().find(sjis("0001/0002\r\n  変換元:c?31m??0002/0004.psu\r\n")), std::string::npos)
        << m2q_test::show_bytes(report());

    // Names the system refuses as too long (255 bytes a name here) fail
    // with its words, and no longer numbered name is tried: the plain name;
    // the plain name taken and "_1" too long.
    const std::string refused_name(243, 'n'), taken_name(242, 'n');
    make(refused_name + ".psu", city());
    make(taken_name + ".psu", city());
    const fs::path taken = folder_ / ("gamedata_" + taken_name + ".dat");
    m2q_test::write_file(taken.string(), std::string("old"));
    fs::permissions(taken, fs::perms::owner_read);
    const ProcessResult refused = run({refused_name + ".psu", taken_name + ".psu"});
    EXPECT_NE(refused.out.find("(Err:4)\n  File name too long\n\n0002/0002"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("(Err:4)\n  File name too long\n\n0 converted"), std::string::npos)
        << refused.out;
    EXPECT_EQ(m2q_test::read_text(taken.string()), "old");
    fs::remove(taken);

    const ProcessResult result = run({"saves/city.psu", "missing.psu", "folder.psu", "broken.psu"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.out.find("  資  金:1,234,567\n  -> saves/gamedata_city_1.dat (numbered: the "
                              "plain name could not be written: it is a folder)\n\n0002/0004\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("  変換元:missing.psu\n  Melnoのデータではありません。\n  (Err:2)\n"
                              "  No such file or directory\n\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("(Err:2)\n  Is a directory\n\n0004/0004\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("  都市名:A?B??C?D\n  マップ:3\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  -> gamedata_broken.dat\n\n2 converted, 2 failed\n"), std::string::npos);
    expect_city_output(folder_ / "saves/gamedata_city_1.dat", save);

    const std::string text = report();
    EXPECT_EQ(text.find("->"), std::string::npos);
    EXPECT_EQ(text.find("No such file"), std::string::npos);
    EXPECT_NE(text.find(sjis("都市名:") + "A\nB\r\nC\tD\r\n"), std::string::npos);
}

// Only '/' separates folders on POSIX, and "C:" is no drive.
TEST_F(CliTest, BackslashesAndColonsArePartsOfPosixNames) {
    make("back\\slash.psu", city());
    make("C:city.psu", city());
    const ProcessResult result = run({"back\\slash.psu", "C:city.psu"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("  -> gamedata_back\\slash.dat\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("  -> gamedata_C:city.dat\n"), std::string::npos) << result.out;
    expect_city_output(folder_ / "gamedata_back\\slash.dat", city());
    expect_city_output(folder_ / "gamedata_C:city.dat", city());
    EXPECT_FALSE(fs::exists(folder_ / "back"));
}

// Paths of a UTF-8 locale go into the report in Shift-JIS like everything
// else there; bytes that are no UTF-8 and characters Shift-JIS lacks
// become '?'. The files themselves keep their names.
TEST_F(CliTest, ReportHoldsUtf8PathsInShiftJis) {
    make("東京.psu", city());
    make_sized("bad\xFF€.psu", 10);
    const ProcessResult result = run({"東京.psu", "bad\xFF€.psu"});
    EXPECT_EQ(result.exit_code, 1);
    const std::string text = report();
    EXPECT_NE(text.find(sjis("  変換元:東京.psu\r\n")), std::string::npos) << m2q_test::show_bytes(text);
    EXPECT_NE(text.find(sjis("  変換元:") + "bad??.psu\r\n"), std::string::npos);
    const std::string decoded = m2q_test::iconv_convert(text, "UTF-8", "CP932");
    EXPECT_NE(decoded.find("0001/0002\r\n  変換元:東京.psu\r\n  都市名:東京湾市\r\n"),
              std::string::npos)
        << decoded;
    EXPECT_NE(result.out.find("  変換元:東京.psu\n"), std::string::npos);
    expect_city_output(folder_ / "gamedata_東京.dat", city());
}

// A standard output that fails, is closed, or a file-size limit: each is
// told where it belongs and reaches no file.
TEST_F(CliTest, OutputErrorsAreToldAndFailTheRun) {
    make("city.psu", city());
    make("town.psu", city());
    ProcessOptions options;
    options.directory = folder_.string();
    options.environment = {"LC_ALL=C.UTF-8"};
    const std::string shell = "exec \"$0\" \"$@\"";

    // Closed descriptors 0, 1 and 2: the report is still only the report.
    ASSERT_EQ(run({"city.psu", "town.psu"}).exit_code, 0);
    const std::string whole_report = report();
    const ProcessResult closed =
        run_process({"/bin/sh", "-c", shell + " <&- >&- 2>&-", M2Q_CLI_PATH, "city.psu", "town.psu"}, options);
    EXPECT_EQ(closed.exit_code, 0);
    EXPECT_EQ(report(), whole_report);

    // A file-size limit below a save's size: each save fails with the
    // system's reason, the batch goes on, and nothing is left behind.
    fs::remove(folder_ / "gamedata_city.dat");
    const std::string town_save = read_file(folder_ / "gamedata_town.dat");
    const ProcessResult limited =
        run_process({"/bin/sh", "-c", "ulimit -f 4000; " + shell, M2Q_CLI_PATH, "city.psu", "town.psu"},
                    options);
    EXPECT_EQ(limited.exit_code, 1) << limited.err;
    EXPECT_NE(limited.out.find("(Err:4)\n  File too large\n\n0002/0002"), std::string::npos) << limited.out;
    EXPECT_NE(limited.out.find("0 converted, 2 failed"), std::string::npos);
    EXPECT_TRUE(read_file(folder_ / "gamedata_town.dat") == town_save) << "the old save changed";
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_city.dat"));
    EXPECT_NE(report().find("(Err:4)\r\n\r\n0002/0002"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(folder_)) {
        EXPECT_NE(entry.path().filename().string().rfind(TEMP_NAME_MARK, 0), 0u) << entry.path();
    }

    const ProcessResult full =
        run_process({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", M2Q_CLI_PATH, "city.psu"}, options);
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err, "melno2quaz: cannot write to standard output: No space left on device\n");
    expect_city_output(folder_ / "gamedata_city.dat", city());
    EXPECT_NE(report().find(sjis("  変換元:city.psu\r\n")), std::string::npos);

    const ProcessResult help =
        run_process({"/bin/sh", "-c", "exec \"$0\" --help >/dev/full", M2Q_CLI_PATH}, options);
    EXPECT_EQ(help.exit_code, 1);
    EXPECT_NE(help.err.find("No space left on device"), std::string::npos) << help.err;
}

// --check reads Quaz saves and names what is wrong, and writes nothing.
TEST_F(CliTest, CheckFindsEachDamagedPartAndWritesNothing) {
    make("city.psu", city());
    ASSERT_EQ(run({"city.psu"}).exit_code, 0);
    fs::remove(folder_ / "report.txt");
    const m2q_test::Bytes good = m2q_test::read_file((folder_ / "gamedata_city.dat").string());
    ASSERT_EQ(good.size(), TARGET_SIZE);
    const std::uint32_t header_sum = m2q_test::get_le32(good, 940);
    const std::uint32_t image_sum = m2q_test::get_le32(good, 5184398);

    const auto variant = [&](const char* name, std::size_t offset, unsigned char flip) {
        m2q_test::Bytes bytes = good;
        bytes[offset] ^= flip;
        EXPECT_TRUE(m2q_test::write_file((folder_ / name).string(), bytes));
        return static_cast<std::uint32_t>(bytes[offset]) - good[offset];
    };
    const std::uint32_t body_change = variant("body.dat", 1000000, 0x10);
    variant("header.dat", 10, 0x01);
    variant("sum.dat", 940, 0x01);
    variant("seal.dat", 5184210, 0x01);
    variant("end.dat", 5184405, 0x80);
    // Two bytes of the fixed block swapped: every sum stays as it was.
    m2q_test::Bytes swapped = good;
    std::swap(swapped[5183850 + 2], swapped[5183850 + 3]);  // 80 3F
    ASSERT_TRUE(m2q_test::write_file((folder_ / "fixed.dat").string(), swapped));
    m2q_test::Bytes cut = good;
    cut.pop_back();
    ASSERT_TRUE(m2q_test::write_file((folder_ / "short.dat").string(), cut));
    const auto before = fs::last_write_time(folder_ / "gamedata_city.dat");

    const ProcessResult all =
        run({"--check", "gamedata_city.dat", "body.dat", "header.dat", "sum.dat", "seal.dat",
             "end.dat", "fixed.dat", "short.dat"});
    EXPECT_EQ(all.exit_code, 1);
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "gamedata_city.dat: ok\n"
                  "body.dat: image checksum 0x%08X stored, 0x%08X computed\n"
                  "header.dat: header differs in 1 byte, the first at offset 10\n"
                  "sum.dat: header checksum 0x%08X stored, 0x%08X computed\n"
                  "seal.dat: sealing constant at offset 5184210 is 61, 60 expected\n"
                  "end.dat: the last four bytes are not zero\n"
                  "fixed.dat: fixed block differs in 2 bytes, the first at offset 5183852\n"
                  "short.dat: wrong size 5184405 (5184406 expected)\n",
                  image_sum, image_sum + body_change, header_sum ^ 1u, header_sum);
    EXPECT_EQ(all.out, expected);

    // The status is that of every file, not of the last one.
    EXPECT_EQ(run({"--check", "fixed.dat", "gamedata_city.dat"}).exit_code, 1);
    const ProcessResult intact = run({"--check", "gamedata_city.dat"});
    EXPECT_EQ(intact.exit_code, 0);
    EXPECT_EQ(intact.out, "gamedata_city.dat: ok\n");
    EXPECT_FALSE(fs::exists(folder_ / "report.txt"));
    EXPECT_EQ(fs::last_write_time(folder_ / "gamedata_city.dat"), before);
    EXPECT_EQ(m2q_test::read_file((folder_ / "gamedata_city.dat").string()), good);
}

TEST_F(CliTest, DoubleDashLetsAFileNamedLikeAnOptionBeConverted) {
    make("-x", city());
    const ProcessResult result = run({"--", "-x"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(report().find(sjis("  変換元:-x\r\n")), std::string::npos);
    expect_city_output(folder_ / "gamedata_-x.dat", city());

    // A lone '-' is a file name as well, not standard input.
    make("-", city());
    EXPECT_EQ(run({"-"}).exit_code, 0);
    expect_city_output(folder_ / "gamedata_-.dat", city());
}

TEST_F(CliTest, HelpAndVersionPrintAndConvertNothing) {
    make("city.psu", city());
    const ProcessResult help = run({"--help", "city.psu"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.rfind("Usage: melno2quaz ", 0), 0u) << help.out;
    for (const char* topic : {"--check", "A lone '-' is a FILE", "-> PATH", "Shift-JIS"}) {
        EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(help.err, "");

    const ProcessResult version = run({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "melno2quaz " M2Q_VERSION "\n");

    EXPECT_FALSE(fs::exists(folder_ / "report.txt"));
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_city.dat"));
}

TEST_F(CliTest, UsageErrorsExitTwoAndLeaveTheReportAlone) {
    make("city.psu", city());
    const std::string previous = "an earlier report\r\n";
    std::ofstream(folder_ / "report.txt", std::ios::binary) << previous;

    const ProcessResult empty = run({});
    EXPECT_EQ(empty.exit_code, 2);
    EXPECT_EQ(empty.out, "");
    EXPECT_NE(empty.err.find("no files"), std::string::npos) << empty.err;

    const ProcessResult unknown = run({"city.psu", "--frobnicate"});
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos) << unknown.err;

    const ProcessResult only_dashes = run({"--"});
    EXPECT_EQ(only_dashes.exit_code, 2);

    EXPECT_EQ(report(), previous);
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_city.dat"));
}

// A folder or a FIFO named report.txt is left as it is (a FIFO never blocks
// the batch); a symbolic link named so is followed.
TEST_F(CliTest, ReportThatCannotBeCreatedIsWarnedAboutAndFilesStillConvert) {
    make("city.psu", city());
    for (const bool fifo : {false, true}) {
        fs::remove_all(folder_ / "report.txt");
        if (fifo) {
            ASSERT_EQ(mkfifo((folder_ / "report.txt").c_str(), 0644), 0);
        } else {
            fs::create_directory(folder_ / "report.txt");
        }
        // Every file converted, but an older report.txt would contradict
        // the run: it did not do all it was asked.
        const ProcessResult result = run({"city.psu"});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.err.find("report.txt could not be written"), std::string::npos)
            << result.err;
        EXPECT_NE(result.out.find("都市名:東京湾市"), std::string::npos);
        EXPECT_TRUE(fifo ? fs::is_fifo(folder_ / "report.txt") : fs::is_directory(folder_ / "report.txt"));
        expect_city_output(folder_ / "gamedata_city.dat", city());
    }
    fs::remove(folder_ / "report.txt");
    fs::create_directory(folder_ / "reports");
    fs::create_symlink("reports/last.txt", folder_ / "report.txt");
    EXPECT_EQ(run({"city.psu"}).exit_code, 0);
    EXPECT_TRUE(fs::is_symlink(folder_ / "report.txt"));
    EXPECT_NE(read_file(folder_ / "reports/last.txt").find(sjis("都市名:")), std::string::npos);

    // A file the batch was given is never replaced by the report, even one
    // whose conversion failed (here: a file size limit fails the output):
    // report.txt as a link to a save given too, and a save named report.txt.
    for (const bool link : {true, false}) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const SampleSave save = city();
        make(link ? "city.psu" : "report.txt", save);
        if (link) fs::create_symlink("city.psu", folder_ / "report.txt");
        std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit -f 4000; exec \"$0\" \"$@\"",
                                         M2Q_CLI_PATH, "report.txt"};
        if (link) argv.push_back("city.psu");
        ProcessOptions options;
        options.directory = folder_.string();
        options.environment = {"LC_ALL=C.UTF-8"};
        const ProcessResult result = run_process(argv, options);
        EXPECT_EQ(result.exit_code, 1) << link;
        EXPECT_NE(result.err.find("report.txt could not be written"), std::string::npos) << link;
        EXPECT_EQ(m2q_test::read_file((folder_ / (link ? "city.psu" : "report.txt")).string()),
                  sample_bytes(save))
            << link;
        EXPECT_EQ(fs::is_symlink(folder_ / "report.txt"), link);
    }

    // Nor is a Melno save the batch was not given, where report.txt leads,
    // or a Quaz save; an older report chosen with the saves is replaced and
    // has its record.
    for (const int row : {0, 1, 2}) {
        SCOPED_TRACE(row);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        make("city.psu", city());
        const std::string quaz(TARGET_SIZE, 'q');
        if (row == 0) {
            make("other/keep.psu", city());
            fs::create_symlink("other/keep.psu", folder_ / "report.txt");
        } else {
            ASSERT_TRUE(m2q_test::write_file((folder_ / "report.txt").string(),
                                             row == 1 ? quaz : std::string("an older report\r\n")));
        }
        const ProcessResult result = run(row == 2 ? std::vector<std::string>{"city.psu", "report.txt"}
                                                  : std::vector<std::string>{"city.psu"});
        expect_city_output(folder_ / "gamedata_city.dat", city());
        if (row == 2) {
            EXPECT_EQ(result.exit_code, 1);
            EXPECT_EQ(result.err.find("report.txt could not be written"), std::string::npos) << result.err;
            EXPECT_NE(report().find(m2q_test::expected_record(2, 2, "report.txt", ERR_NOT_SOURCE)), std::string::npos)
                << m2q_test::show_bytes(report());
            continue;
        }
        EXPECT_NE(result.err.find("report.txt could not be written"), std::string::npos) << result.err;
        if (row == 0) {
            EXPECT_EQ(m2q_test::read_file((folder_ / "other/keep.psu").string()), sample_bytes(city()));
        } else {
            EXPECT_TRUE(report() == quaz) << "the Quaz save was replaced";
        }
    }
}

TEST_F(CliTest, AsciiLocaleShowsUtf8) {
    make("city.psu", city());
    const ProcessResult result = run({"city.psu"}, "C");
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("  都市名:東京湾市\n  マップ:3\n"), std::string::npos) << result.out;
}

TEST_F(CliTest, ShiftJisTerminalGetsTheReportBytes) {
    // A Shift-JIS locale of our own, found through LOCPATH.
    const fs::path locales = folder_ / "locales";
    fs::create_directory(locales);
    const std::string localedef = "/usr/bin/localedef";
    if (!fs::exists(localedef)) GTEST_SKIP() << "no localedef";
    ProcessOptions options;
    // localedef warns that Shift-JIS is not ASCII-compatible and exits 1.
    run_process({localedef, "-f", "SHIFT_JIS", "-i", "ja_JP", (locales / "ja_JP.SJIS").string()},
                options);
    if (!fs::exists(locales / "ja_JP.SJIS")) GTEST_SKIP() << "no Shift-JIS locale definition";

    make("city.psu", city());
    make_sized("short.psu", SOURCE_SIZE + 1);
    const std::string sjis_name = "\x95\x5C.psu";  // 表.psu, its path bytes go in unchanged
    make(sjis_name, city());
    const ProcessResult result =
        run({"city.psu", "short.psu", sjis_name}, "ja_JP.SJIS", false, locales.string());
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(report().find(sjis("0003/0003\r\n  変換元:") + sjis_name + "\r\n"), std::string::npos);
    expect_city_output(folder_ / "gamedata_\x95\x5C.dat", city());
    std::string shown = without_cr_lf(report());
    shown.insert(shown.find("\n\n0002"), "\n  -> gamedata_city.dat");
    shown.insert(shown.rfind("\n\n"), "\n  -> gamedata_" + sjis_name.substr(0, 2) + ".dat");
    EXPECT_EQ(result.out, shown + "2 converted, 1 failed\n");
    EXPECT_NE(result.out.find(sjis("都市名:東京湾市\n")), std::string::npos);

    // A folder named in UTF-8 whose last byte is a Shift-JIS lead byte
    // (ブ ends in 0x96): the '/' after it still separates.
    make("セーブ/city.psu", city());
    EXPECT_EQ(run({"セーブ/city.psu"}, "ja_JP.SJIS", false, locales.string()).exit_code, 0);
    expect_city_output(folder_ / "セーブ/gamedata_city.dat", city());
    EXPECT_FALSE(fs::exists(folder_ / "gamedata_セーブ"));
}

TEST_F(CliTest, NameBytesThatCannotBeShownBecomeQuestionMarks) {
    // An invalid byte, an escape sequence, and a lone lead byte in the 16th
    // place; the report keeps the raw bytes.
    SampleSave save = city();
    ASSERT_TRUE(sample_set_name_hex(&save, "41 FF 42 1B 5B 32 4A 43 44 45 46 47 48 49 4A 81"));
    make("odd.psu", save);

    const ProcessResult result = run({"odd.psu"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("  都市名:A?B?[2JCDEFGHIJ?\n  マップ:3\n"), std::string::npos)
        << result.out;
    EXPECT_NE(report().find(sjis("都市名:") + "A\xFF" "B\x1B[2JCDEFGHIJ\x81\r\n"),
              std::string::npos);
}

TEST_F(CliTest, ATerminalThatWentAwayDoesNotStopTheBatch) {
    make("a.psu", city());
    make("b.psu", city());
    const ProcessResult result = run({"a.psu", "b.psu"}, "C.UTF-8", true);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(report().find(sjis("0002/0002\r\n  変換元:b.psu\r\n  都市名:")), std::string::npos);
    expect_city_output(folder_ / "gamedata_a.dat", city());
    expect_city_output(folder_ / "gamedata_b.dat", city());
}

// Names an output must never take. Each row sets up a folder of its own,
// converts, and says where the new save must be and which files must keep
// exactly the bytes they had.
TEST_F(CliTest, OutputsNeverDamageAnotherFile) {
    const SampleSave save = city();
    const std::string old_save(TARGET_SIZE, 'o');
    struct Row {
        const char* what;
        std::vector<std::string> args;          // relative to the row's folder
        std::vector<std::string> outputs;       // new saves, in the row's folder
        std::function<void(const fs::path&)> setup;
        std::vector<std::string> kept;          // files whose bytes must not change
        std::function<void(const fs::path&)> check = nullptr;  // more to see afterwards
        bool needs_root = false;  // makes files of another user's
    };
    constexpr uid_t OTHER_USER = 65534;
    const auto others_link = [](const std::string& to, const fs::path& link) {
        fs::create_symlink(to, link);
        ASSERT_EQ(lchown(link.c_str(), OTHER_USER, OTHER_USER), 0);
    };
    const auto file = [](const fs::path& path, const std::string& bytes) {
        ASSERT_TRUE(m2q_test::write_file(path.string(), bytes));
    };
    const std::vector<Row> rows = {
        {"symbolic link to the source", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_symlink("city.psu", d / "gamedata_city.dat"); }, {"city.psu"}},
        {"hard link to the source", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_hard_link(d / "city.psu", d / "gamedata_city.dat"); }, {"city.psu"}},
        {"hard-linked backup of an old save", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             file(d / "gamedata_city.dat", old_save);
             fs::create_hard_link(d / "gamedata_city.dat", d / "backup.dat");
         }, {"backup.dat"},
         [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "gamedata_city_1.dat")); }},
        // A link of the user's own that leads where no file can be made
        // passes the turn to the next number, and stays as it was.
        {"own link into a missing folder", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_symlink("/nonexistent/dir/x.dat", d / "gamedata_city.dat"); },
         {}, [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "gamedata_city.dat")); }},
        {"own link into a folder that takes no file", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_symlink("/proc/m2q.dat", d / "gamedata_city.dat"); }, {}},
        {"FIFO", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { ASSERT_EQ(mkfifo((d / "gamedata_city.dat").c_str(), 0644), 0); }, {}},
        {"read-only save, even for root", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) {
             file(d / "gamedata_city.dat", old_save);
             fs::permissions(d / "gamedata_city.dat", fs::perms::owner_read | fs::perms::group_read);
         }, {"gamedata_city.dat"}},
        {"folder", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_directory(d / "gamedata_city.dat"); }, {}},
        {"link to a device", {"city.psu"}, {"gamedata_city_1.dat"},
         [](const fs::path& d) { fs::create_symlink("/dev/null", d / "gamedata_city.dat"); }, {}},
        {"same stem twice in a batch", {"city.psu", "city.bak"}, {"gamedata_city.dat", "gamedata_city_1.dat"},
         [&](const fs::path& d) { fs::copy_file(d / "city.psu", d / "city.bak"); }, {}},
        {"same file dropped twice", {"city.psu", "./city.psu"}, {"gamedata_city.dat"},
         [](const fs::path&) {}, {},
         [](const fs::path& d) {
             EXPECT_FALSE(fs::exists(d / "gamedata_city_1.dat")) << "the same file got two outputs";
         }},
        {"a later source under the output's name", {"city.psu", "gamedata_city.dat"},
         {"gamedata_city_1.dat", "gamedata_gamedata_city.dat"},
         [](const fs::path& d) { fs::copy_file(d / "city.psu", d / "gamedata_city.dat"); },
         {"gamedata_city.dat"}},
        // The link stays a link, to the new save.
        {"symbolic link into the game's folder", {"city.psu"}, {"game/gamedata_city.dat"},
         [&](const fs::path& d) {
             fs::create_directory(d / "game");
             file(d / "game/gamedata_city.dat", old_save);
             fs::create_symlink("game/gamedata_city.dat", d / "gamedata_city.dat");
         }, {}, [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "gamedata_city.dat")); }},
        // report.txt takes the name it leads to when the batch ends, so no
        // save may take that name, whichever way the link goes.
        {"link to report.txt", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) {
             file(folder_ / "report.txt", "an older report\r\n");
             fs::create_symlink("../report.txt", d / "gamedata_city.dat");
         }, {}},
        {"report.txt a link to the output's name", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) {
             fs::create_symlink(d.filename() / "gamedata_city.dat", folder_ / "report.txt");
         }, {}},
        // In a folder all may write to and only owners delete from, another
        // user's link is not followed, to a file or to nowhere; the
        // replaced save keeps its mode and, for root, its owner.
        {"another user's link in a sticky folder", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) {
             file(folder_ / "private.dat", "another user's file");
             fs::permissions(d, fs::perms::all | fs::perms::sticky_bit);
             others_link("../private.dat", d / "gamedata_city.dat");
         }, {"../private.dat"}, nullptr, true},
        {"another user's link to nowhere", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) { others_link("../created.dat", d / "gamedata_city.dat"); },
         {}, [&](const fs::path&) { EXPECT_FALSE(fs::exists(folder_ / "created.dat")); }, true},
        {"private save of another user", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             file(d / "gamedata_city.dat", old_save);
             ASSERT_EQ(chmod((d / "gamedata_city.dat").c_str(), 0640), 0);
             if (geteuid() == 0) {
                 ASSERT_EQ(chown((d / "gamedata_city.dat").c_str(), OTHER_USER, 100), 0);
             }
         }, {},
         [&](const fs::path& d) {
             struct stat info;
             ASSERT_EQ(stat((d / "gamedata_city.dat").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07777, 0640u);
             if (geteuid() == 0) {
                 EXPECT_EQ(info.st_uid, OTHER_USER);
                 EXPECT_EQ(info.st_gid, 100u);
             }
         }},
        // A replaced save keeps its access control list; a new save of a
        // private source is private (its mode less the umask, 022 here).
        {"save with an access control list", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             file(d / "gamedata_city.dat", old_save);
             ASSERT_EQ(run_process({"/usr/bin/setfacl", "-m", "u:65534:rw", (d / "gamedata_city.dat").string()},
                                   {}).exit_code, 0);
         }, {},
         [&](const fs::path& d) {
             const ProcessResult acl =
                 run_process({"/usr/bin/getfacl", "-c", (d / "gamedata_city.dat").string()}, {});
             EXPECT_NE(acl.out.find("user:nobody:rw-"), std::string::npos) << acl.out;
         }},
        // No output replaces a Melno save, wherever the user's own link leads.
        {"own link to a Melno save elsewhere", {"city.psu"}, {"gamedata_city_1.dat"},
         [&](const fs::path& d) {
             make(d.filename().string() + "/backup/city.psu", city());
             fs::create_symlink("backup/city.psu", d / "gamedata_city.dat");
         }, {"backup/city.psu"}},
        // A save is never readable by anyone its source keeps out.
        {"private source over an older save anyone reads", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             ASSERT_EQ(chmod((d / "city.psu").c_str(), 0600), 0);
             file(d / "gamedata_city.dat", old_save);
             ASSERT_EQ(chmod((d / "gamedata_city.dat").c_str(), 0644), 0);
             // A file system without user attributes (tmpfs before Linux 6.6) keeps none to check.
             const int set = setxattr((d / "gamedata_city.dat").c_str(), "user.m2q", "kept", 4, 0);
             ASSERT_TRUE(set == 0 || errno == ENOTSUP) << std::strerror(errno);
         }, {},
         [](const fs::path& d) {
             struct stat info;
             ASSERT_EQ(stat((d / "gamedata_city.dat").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 0777, 0600u);
             char value[8] = {};
             const ssize_t length = getxattr((d / "gamedata_city.dat").c_str(), "user.m2q", value, sizeof value);
             EXPECT_TRUE(length == 4 || (length < 0 && errno == ENOTSUP)) << std::strerror(errno);
             EXPECT_TRUE(length < 0 || std::string(value) == "kept") << value;
         }},
        {"source whose access control list keeps a user out", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             ASSERT_EQ(run_process({"/usr/bin/setfacl", "-m", "u:65534:---", (d / "city.psu").string()}, {}).exit_code, 0);
         }, {},
         [&](const fs::path& d) {
             const ProcessResult acl =
                 run_process({"/usr/bin/getfacl", "-c", (d / "gamedata_city.dat").string()}, {});
             EXPECT_NE(acl.out.find("user:nobody:---"), std::string::npos) << acl.out;
         }},
        {"source of root's group in a folder of another group", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             ASSERT_EQ(chmod((d / "city.psu").c_str(), 0640), 0);
             ASSERT_EQ(chown(d.c_str(), 0, OTHER_USER), 0);
             ASSERT_EQ(chmod(d.c_str(), 02775), 0);
         }, {},
         [](const fs::path& d) {
             struct stat info;
             ASSERT_EQ(stat((d / "gamedata_city.dat").c_str(), &info), 0);
             EXPECT_TRUE(info.st_gid != OTHER_USER || (info.st_mode & 0040) == 0) << std::oct << info.st_mode;
         }, true},
        {"another user's private save converted by root", {"city.psu"}, {"gamedata_city.dat"},
         [&](const fs::path& d) {
             ASSERT_EQ(chmod((d / "city.psu").c_str(), 0600), 0);
             ASSERT_EQ(chown((d / "city.psu").c_str(), OTHER_USER, OTHER_USER), 0);
         }, {},
         [&](const fs::path& d) {
             struct stat info;
             ASSERT_EQ(stat((d / "gamedata_city.dat").c_str(), &info), 0);
             EXPECT_EQ(info.st_uid, OTHER_USER);
             EXPECT_EQ(info.st_gid, OTHER_USER);
             EXPECT_EQ(info.st_mode & 0777, 0600u);
         }, true},
        {"private source", {"city.psu"}, {"gamedata_city.dat"},
         [](const fs::path& d) { ASSERT_EQ(chmod((d / "city.psu").c_str(), 0640), 0); }, {},
         [](const fs::path& d) {
             struct stat info;
             ASSERT_EQ(stat((d / "gamedata_city.dat").c_str(), &info), 0);
             const mode_t mask = umask(0);
             umask(mask);
             EXPECT_EQ(info.st_mode & 0777, 0640u & ~mask);
         }},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.what);
        if (row.needs_root && geteuid() != 0) {
            std::printf("row \"%s\" needs root to make another user's link: not run\n", row.what);
            continue;
        }
        fs::remove(folder_ / "report.txt");
        const std::string dir = "row" + std::to_string(i);
        make(dir + "/city.psu", save);
        row.setup(folder_ / dir);
        std::vector<std::pair<std::string, std::string>> kept;
        for (const std::string& name : row.kept) kept.emplace_back(name, read_file(folder_ / dir / name));
        std::vector<std::string> args;
        for (const std::string& arg : row.args) args.push_back(dir + "/" + arg);

        const ProcessResult result = run(args);
        EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
        for (const std::string& output : row.outputs) expect_city_output(folder_ / dir / output, save);
        for (const auto& before : kept) {
            EXPECT_TRUE(read_file(folder_ / dir / before.first) == before.second) << before.first << " changed";
        }
        for (const auto& entry : fs::recursive_directory_iterator(folder_ / dir)) {
            EXPECT_NE(entry.path().filename().string().rfind(TEMP_NAME_MARK, 0), 0u) << entry.path();
        }
        if (row.check) row.check(folder_ / dir);
        EXPECT_EQ(report().rfind("0001/", 0), 0u) << "report.txt holds no report";
    }
}

// Killed at random moments, a batch over saves that already have outputs
// leaves every output name holding its old bytes or the complete new save,
// and report.txt the old report or the complete new one; a temporary file
// may stay only when the kill falls between its naming and the replace.
TEST_F(CliTest, AKillAtAnyMomentNeverLeavesADamagedFile) {
    std::vector<std::string> args;
    for (int i = 0; i < 6; ++i) {
        SampleSave save = city();
        save.map_number = i;
        make("s" + std::to_string(i) + ".psu", save);
        args.push_back("s" + std::to_string(i) + ".psu");
    }
    ASSERT_EQ(run(args).exit_code, 0);
    // Kills land within the time a warm run takes, so nearly every run is cut.
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(args).exit_code, 0);
    const auto whole_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started).count();
    std::vector<std::string> fresh;
    for (int i = 0; i < 6; ++i) fresh.push_back(read_file(folder_ / ("gamedata_s" + std::to_string(i) + ".dat")));
    const std::string fresh_report = report();
    const std::string old_save(TARGET_SIZE, 'o');
    const std::string old_report = "the report of an earlier batch\r\n";

    std::mt19937 random(20261207);
    constexpr int ROUNDS = 100;
    int killed = 0, partly_done = 0, left_behind = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(m2q_test::write_file((folder_ / ("gamedata_s" + std::to_string(i) + ".dat")).string(), old_save));
        }
        ASSERT_TRUE(m2q_test::write_file((folder_ / "report.txt").string(), old_report));
        std::vector<std::string> argv = {M2Q_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.directory = folder_.string();
        options.kill_after_ms = 1 + static_cast<int>(random() % static_cast<unsigned>(whole_ms + 1));
        const ProcessResult result = run_process(argv, options);
        killed += result.signal == SIGKILL;

        int replaced = 0;
        for (int i = 0; i < 6; ++i) {
            const std::string name = "gamedata_s" + std::to_string(i) + ".dat";
            const std::string now = read_file(folder_ / name);
            EXPECT_TRUE(now == old_save || now == fresh[i]) << name << " damaged, " << now.size() << " bytes";
            replaced += now == fresh[i];
        }
        partly_done += replaced > 0 && replaced < 6;
        const std::string text = report();
        EXPECT_TRUE(text == old_report || text == fresh_report) << "report.txt damaged";
        bool left = false;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(TEMP_NAME_MARK, 0) == 0) {
                const std::string bytes = read_file(entry.path());
                EXPECT_TRUE(bytes.size() == TARGET_SIZE || bytes == fresh_report) << "a part of a file stayed";
                fs::remove(entry.path());
                left = true;
            } else {
                EXPECT_TRUE(name == "report.txt" || name.rfind("gamedata_s", 0) == 0 ||
                            name.rfind(".psu") != std::string::npos) << name;
                EXPECT_EQ(name.find("_1."), std::string::npos) << name;
            }
        }
        left_behind += left;
    }
    std::printf("kill test: %d of %d runs killed, %d of them between two saves, %d left a temporary file "
                "(a whole run took %lld ms)\n",
                killed, ROUNDS, partly_done, left_behind, static_cast<long long>(whole_ms));
    EXPECT_LE(left_behind, ROUNDS / 20);
    EXPECT_GE(killed, ROUNDS / 4) << "too few runs were cut to tell anything";
}

// SIGINT, SIGTERM or SIGHUP while the third of 40 files is in hand: the
// batch ends after the file in hand, every file has its record (code 7 for
// those not taken), every output written is a whole save, no temporary file
// stays, and the status is 128 + the signal. A second signal ends the
// program at once, as the signal itself would.
TEST_F(CliTest, SignalsStopTheBatchAfterTheFileInHand) {
    constexpr int FILES = 40;
    std::vector<std::string> args;
    std::vector<SampleSave> saves;
    for (int i = 0; i < FILES; ++i) {
        saves.push_back(city());
        saves.back().map_number = i;
        make("s" + std::to_string(i) + ".psu", saves.back());
        args.push_back("s" + std::to_string(i) + ".psu");
    }
    struct Row {
        int signal_number;
        int second;  // sent right after the first; 0: none
    };
    for (const Row& row : {Row{SIGINT, 0}, Row{SIGTERM, 0}, Row{SIGHUP, 0}, Row{SIGINT, SIGTERM}}) {
        SCOPED_TRACE("signal " + std::to_string(row.signal_number) + ", then " + std::to_string(row.second));
        for (const auto& entry : fs::directory_iterator(folder_)) {
            if (entry.path().extension() != ".psu") fs::remove(entry.path());
        }
        std::vector<std::string> argv = {M2Q_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ProcessOptions options;
        options.directory = folder_.string();
        options.kill_after_ms = 120000;
        options.signal_number = row.signal_number;
        options.second_signal = row.second;
        options.signal_when = "0002/0040";  // the third file is in hand
        const ProcessResult result = run_process(argv, options);
        int written = 0;
        for (int i = 0; i < FILES; ++i) {
            const fs::path output = folder_ / ("gamedata_s" + std::to_string(i) + ".dat");
            if (fs::exists(output)) {
                expect_city_output(output, saves[i]);
                EXPECT_EQ(written, i) << "outputs in the batch's order";
                ++written;
            }
        }
        if (row.second != 0) {
            // Two signals pending at once are taken in either order.
            EXPECT_TRUE(result.signal == row.signal_number || result.signal == row.second) << result.signal;
            EXPECT_LT(written, FILES);
            continue;
        }
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exit_code, 128 + row.signal_number);
        EXPECT_GE(written, 2);
        EXPECT_LT(written, FILES);
        const std::string text = report();
        for (int i = 0; i < FILES; ++i) {
            const std::string path = "s" + std::to_string(i) + ".psu";
            if (i < written) {
                // The record's head; the summary's fields are checked in the output above.
                const std::string record = m2q_test::expected_record(i + 1, FILES, path, CONVERT_OK, "");
                EXPECT_NE(text.find(record.substr(0, record.size() - 2) + sjis("都市名:")), std::string::npos)
                    << path;
            } else {
                EXPECT_NE(text.find(m2q_test::expected_record(i + 1, FILES, path, ERR_STOPPED)),
                          std::string::npos) << path;
            }
        }
        EXPECT_NE(result.out.find(std::to_string(written) + " converted, " + std::to_string(FILES - written) +
                                  " failed"), std::string::npos) << result.out;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            EXPECT_NE(entry.path().filename().string().rfind(TEMP_NAME_MARK, 0), 0u) << entry.path();
        }
    }

    // A signal after the last file began stops nothing: the batch's own
    // status, and no stop line.
    std::vector<std::string> argv = {M2Q_CLI_PATH, "s0.psu"};
    ProcessOptions options;
    options.directory = folder_.string();
    options.kill_after_ms = 120000;
    options.signal_number = SIGTERM;
    options.signal_when = "0001/0001";
    const ProcessResult result = run_process(argv, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.err.find("stopped"), std::string::npos) << result.err;
    EXPECT_EQ(report().find("(Err:7)"), std::string::npos);
}

// Two batches at once in one folder: report.txt is afterwards the whole
// report of one of them, never a mix.
TEST_F(CliTest, TwoBatchesAtOnceNeverMixTheirReports) {
    make("a.psu", city());
    make("b.psu", city());
    make_sized("c.txt", 3);
    const std::vector<std::vector<std::string>> batches = {{"a.psu", "c.txt", "a.psu"}, {"b.psu", "c.txt"}};
    std::vector<std::string> alone;
    for (const auto& batch : batches) {
        ASSERT_EQ(run(batch).exit_code, 1);
        alone.push_back(report());
    }
    for (int round = 0; round < 5; ++round) {
        auto first = std::async(std::launch::async, [&] { return run(batches[0]); });
        auto second = std::async(std::launch::async, [&] { return run(batches[1]); });
        EXPECT_EQ(first.get().exit_code, 1);
        EXPECT_EQ(second.get().exit_code, 1);
        const std::string text = report();
        EXPECT_TRUE(text == alone[0] || text == alone[1]) << m2q_test::show_bytes(text);
    }
    expect_city_output(folder_ / "gamedata_a.dat", city());
    expect_city_output(folder_ / "gamedata_b.dat", city());
}

// A save another program writes while it is read (two cities in turn) is
// converted whole, as one city or the other, or fails with code 5 and says
// why; never into a mix of the two. Each row is a writer the file's times
// cannot catch; a program that only changes the file's times fails no run.
TEST_F(CliTest, ASaveWrittenWhileReadIsNeverConvertedIntoAMix) {
    SampleSave other = city();
    ASSERT_TRUE(sample_set_name_hex(&other, "41 42 43"));
    other.fill = SAMPLE_FILL_CONSTANT;
    other.fill_byte = 0x5A;
    const std::vector<unsigned char> cities[] = {sample_bytes(city()), sample_bytes(other)};
    const std::size_t half = cities[0].size() / 2;
    // A memory file system keeps a mapped file's times still.
    const fs::path shared = fs::exists("/dev/shm") && access("/dev/shm", W_OK) == 0
                                ? fs::path("/dev/shm") / ("m2q-" + folder_.filename().string()) : folder_ / "shm";
    fs::create_directories(shared);
    struct Row {
        const char* what;
        fs::path folder;
        // Writes until `done`; the file is open for it.
        std::function<void(const char* path, const std::atomic<bool>& done)> writer;
        bool changes_bytes;
        int runs;  // a writer that never closes the file costs two seconds a run: one is enough
    };
    const auto rewrite = [&](int fd, unsigned turn, std::size_t from, std::size_t to) {
        return pwrite(fd, cities[turn % 2].data() + from, to - from, static_cast<off_t>(from)) ==
               static_cast<ssize_t>(to - from);
    };
    const Row rows[] = {
        {"rewritten continuously", folder_, [&](const char* path, const std::atomic<bool>& done) {
             const int fd = open(path, O_WRONLY | O_CLOEXEC);
             for (unsigned turn = 0; fd >= 0 && !done && rewrite(fd, turn, 0, cities[0].size()); ++turn) {}
             if (fd >= 0) close(fd);
         }, true, 1},
        {"mapped and copied over", shared, [&](const char* path, const std::atomic<bool>& done) {
             const int fd = open(path, O_RDWR | O_CLOEXEC);
             void* map = mmap(nullptr, cities[0].size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
             close(fd);
             for (unsigned turn = 0; map != MAP_FAILED && !done; ++turn) {
                 std::memcpy(map, cities[turn % 2].data(), cities[0].size());
             }
             if (map != MAP_FAILED) munmap(map, cities[0].size());
         }, true, 1},
        {"paused 300 ms halfway through each rewrite", folder_, [&](const char* path, const std::atomic<bool>& done) {
             for (unsigned turn = 0; !done; ++turn) {
                 const int fd = open(path, O_WRONLY | O_CLOEXEC);
                 const bool ok = fd >= 0 && rewrite(fd, turn, 0, half);
                 std::this_thread::sleep_for(std::chrono::milliseconds(300));
                 if (ok) rewrite(fd, turn, half, cities[0].size());
                 if (fd >= 0) close(fd);
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
             }
         }, true, 4},
        {"only its mode changed every 20 ms", folder_, [&](const char* path, const std::atomic<bool>& done) {
             for (unsigned turn = 0; !done; ++turn) {
                 chmod(path, turn % 2 ? 0644 : 0640);
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
             }
         }, false, 4},
    };
    std::string outputs[2];
    for (int i = 0; i < 2; ++i) {
        make("city.psu", i == 0 ? city() : other);
        ASSERT_EQ(run({"city.psu"}).exit_code, 0);
        outputs[i] = read_file(folder_ / "gamedata_city.dat");
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const fs::path source = row.folder / "city.psu";
        ASSERT_TRUE(sample_write_file(city(), source.c_str()));
        std::atomic<bool> done{false};
        std::thread writer([&] { row.writer(source.c_str(), done); });
        int converted = 0;
        for (int run_number = 0; run_number < row.runs; ++run_number) {
            const fs::path output = row.folder / "gamedata_city.dat";
            fs::remove(output);
            const ProcessResult result = run({source.string()});
            const std::string written = fs::exists(output) ? read_file(output) : std::string();
            if (result.exit_code == 0) {
                ++converted;
                EXPECT_TRUE(written == outputs[0] || written == outputs[1]) << "a mix was written";
            } else {
                EXPECT_TRUE(row.changes_bytes) << "a file whose bytes stay was refused: " << result.out;
                EXPECT_EQ(result.exit_code, 1);
                EXPECT_NE(result.out.find("(Err:5)\n  another program is writing the file\n"), std::string::npos)
                    << result.out;
                EXPECT_EQ(written, "");
            }
        }
        done = true;
        writer.join();
        std::printf("%s: %d of %d runs converted a whole city, the rest failed with code 5\n", row.what,
                    converted, row.runs);
    }
    fs::remove_all(shared);
}

}  // namespace

#endif
