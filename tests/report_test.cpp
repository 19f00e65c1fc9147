// The batch over a list of paths and the exact bytes of report.txt.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "melno2quaz.h"
#include "process_run.h"
#include "source_save.h"
#include "fault_platform.h"
#include "test_support.h"

namespace {

using m2q_test::Bytes;
using m2q_test::TempFolder;
using m2q_test::utf8_to_cp932;

struct Seen {
    std::size_t index;
    std::size_t count;
    std::string path;
    int32_t code;
    std::string message;
};

void remember(void* context, std::size_t index, std::size_t count, const char* path, int32_t code,
              const char* message, const FileOutcome*) {
    static_cast<std::vector<Seen>*>(context)->push_back(Seen{index, count, path, code, message});
}

struct BatchRun {
    std::string report;
    BatchSummary summary;
    std::vector<Seen> seen;
};

// Runs the batch with its report in `folder` and reads the report.
BatchRun run_batch(const TempFolder& folder, const std::vector<std::string>& paths,
                   const PlatformOps& os = platform_native()) {
    std::vector<const char*> list;
    for (const std::string& path : paths) list.push_back(path.c_str());
    BatchRun run{};
    run.summary = BatchSummary{99, 99, false, 99};
    process_dropped_files(os, list.data(), list.size(), folder.prefix().c_str(), remember,
                          &run.seen, &run.summary);
    run.report = m2q_test::read_text(folder.file("report.txt"));
    return run;
}

std::string not_source_record(std::size_t index, std::size_t count, const std::string& path) {
    return m2q_test::expected_record(index, count, path, ERR_NOT_SOURCE);
}

TEST(Report, TwoRecordExample) {
    TempFolder folder;
    const std::string city = folder.file("city.psu");
    const std::string notes = folder.file("notes.txt");
    ASSERT_TRUE(m2q_test::write_file(
        city, m2q_test::city_source(utf8_to_cp932(u8"新市街"), 3, 4021629, 1234567)));
    ASSERT_TRUE(m2q_test::write_file(notes, std::string("a short note\r\n")));

    const BatchRun run = run_batch(folder, {city, notes});
    const std::string expected =
        m2q_test::expected_record(1, 2, city, CONVERT_OK,
                                  m2q_test::expected_summary(utf8_to_cp932(u8"新市街"), 3, "001.Spring 5  13:07'09",
                                                             "1,234,567")) +
        not_source_record(2, 2, notes);
    EXPECT_EQ(run.report, expected) << m2q_test::show_bytes(run.report);
    EXPECT_EQ(run.summary.converted, 1u);
    EXPECT_EQ(run.summary.failed, 1u);
    EXPECT_TRUE(run.summary.report_written);
    EXPECT_TRUE(m2q_test::file_exists(folder.file("gamedata_city.dat")));
    EXPECT_FALSE(m2q_test::file_exists(folder.file("gamedata_notes.dat")));

    ASSERT_EQ(run.seen.size(), 2u);
    EXPECT_EQ(run.seen[0].index, 1u);
    EXPECT_EQ(run.seen[0].count, 2u);
    EXPECT_EQ(run.seen[0].path, city);
    EXPECT_EQ(run.seen[0].code, CONVERT_OK);
    EXPECT_EQ(run.seen[0].message.rfind(utf8_to_cp932(u8"都市名:新市街\r\n"), 0), 0u);
    EXPECT_EQ(run.seen[1].index, 2u);
    EXPECT_EQ(run.seen[1].code, ERR_NOT_SOURCE);
    EXPECT_EQ(run.seen[1].message, utf8_to_cp932(u8"Melnoのデータではありません。\n"));
}

TEST(Report, EmptyListGivesAnEmptyReportReplacingTheOldOne) {
    TempFolder folder;
    ASSERT_TRUE(m2q_test::write_file(folder.file("report.txt"), std::string("old report")));
    const BatchRun run = run_batch(folder, {});
    EXPECT_TRUE(m2q_test::file_exists(folder.file("report.txt")));
    EXPECT_EQ(run.report, "");
    EXPECT_EQ(run.summary.converted, 0u);
    EXPECT_EQ(run.summary.failed, 0u);
    EXPECT_TRUE(run.summary.report_written);
    EXPECT_TRUE(run.seen.empty());
}

// Counters are four digits wide, and grow wider past 9999.
TEST(Report, CountersArePaddedToFourDigitsAndGrowPast9999) {
    TempFolder folder;
    for (const std::size_t count : {std::size_t{12}, std::size_t{10000}}) {
        const std::vector<std::string> paths(count, folder.file("missing.psu"));
        std::string expected;
        for (std::size_t i = 1; i <= count; ++i) expected += not_source_record(i, count, paths[0]);
        const BatchRun run = run_batch(folder, paths);
        EXPECT_EQ(run.report, expected);
        EXPECT_NE(run.report.find(count == 12 ? "\r\n0007/0012\r\n" : "\r\n9999/10000\r\n"),
                  std::string::npos);
        EXPECT_EQ(run.summary.failed, count);
    }
}

TEST(Report, SameSourceTwiceGivesTwoRecordsAndOneOutput) {
    TempFolder folder;
    const std::string city = folder.file("city.psu");
    ASSERT_TRUE(m2q_test::write_file(city, m2q_test::city_source("Twice", 1, 0, 5)));
    const BatchRun run = run_batch(folder, {city, city});
    const std::string summary = m2q_test::expected_summary("Twice", 1, "000.Winter 4   0:00'00", "5");
    EXPECT_EQ(run.report, m2q_test::expected_record(1, 2, city, CONVERT_OK, summary) +
                              m2q_test::expected_record(2, 2, city, CONVERT_OK, summary));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"city.psu", "gamedata_city.dat", "report.txt"}));
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "gamedata_city.dat"), 5184406u);
}

// Two sources with the same base name in one batch: the second output takes
// the next number instead of destroying the first.
TEST(Report, SameBaseNameTwiceKeepsBothOutputs) {
    TempFolder folder;
    const std::string a = folder.file("a.psu");
    const std::string b = folder.file("a.bin");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::city_source("first", 1, 0, 111)));
    ASSERT_TRUE(m2q_test::write_file(b, m2q_test::city_source("second", 2, 0, 222)));
    const BatchRun run = run_batch(folder, {a, b});
    EXPECT_EQ(run.summary.converted, 2u);
    const Bytes first = m2q_test::read_file(folder.file("gamedata_a.dat"));
    const Bytes second = m2q_test::read_file(folder.file("gamedata_a_1.dat"));
    ASSERT_EQ(first.size(), 5184406u);
    ASSERT_EQ(second.size(), 5184406u);
    EXPECT_EQ(m2q_test::get_le64(first, 620), 111u);
    EXPECT_EQ(m2q_test::get_le64(second, 620), 222u);
}

// A stop asked while the second of three files is in hand: that file is
// finished, the third is not touched and is recorded with code 7, the
// report is written whole and no temporary file stays.
struct StopAt {
    std::atomic<bool> stop{false};
    std::size_t at;
    std::vector<std::size_t> started;
};

TEST(Report, StopFinishesTheFileInHandAndRecordsTheRestWithCode7) {
    TempFolder folder;
    std::vector<std::string> paths;
    for (const char* name : {"a.psu", "b.psu", "c.psu"}) {
        paths.push_back(folder.file(name));
        ASSERT_TRUE(m2q_test::write_file(paths.back(), m2q_test::city_source("S", 1, 0, 5)));
    }
    StopAt stop_at{};
    stop_at.at = 2;
    const BatchControl control{[](void* context, std::size_t index, std::size_t, const char*) {
                                   auto* self = static_cast<StopAt*>(context);
                                   self->started.push_back(index);
                                   if (index == self->at) self->stop = true;
                               },
                               &stop_at, &stop_at.stop};
    std::vector<const char*> list;
    for (const std::string& path : paths) list.push_back(path.c_str());
    BatchSummary summary{};
    std::vector<Seen> seen;
    process_dropped_files(platform_native(), list.data(), list.size(), folder.prefix().c_str(), remember,
                          &seen, &summary, &control);
    const std::string summary_text = m2q_test::expected_summary("S", 1, "000.Winter 4   0:00'00", "5");
    EXPECT_EQ(m2q_test::read_text(folder.file("report.txt")),
              m2q_test::expected_record(1, 3, paths[0], CONVERT_OK, summary_text) +
                  m2q_test::expected_record(2, 3, paths[1], CONVERT_OK, summary_text) +
                  m2q_test::expected_record(3, 3, paths[2], ERR_STOPPED));
    EXPECT_EQ(stop_at.started, (std::vector<std::size_t>{1, 2}));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].code, ERR_STOPPED);
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_TRUE(summary.report_written);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a.psu", "b.psu", "c.psu", "gamedata_a.dat",
                                                          "gamedata_b.dat", "report.txt"}));
}

TEST(Report, TooLongPathIsRecordedInFullWithCode6) {
    TempFolder folder;
    const std::string prefix = folder.prefix();
    ASSERT_LT(prefix.size(), 200u);
    const std::string long_path = prefix + std::string(300 - prefix.size(), 'a');
    const std::string limit_path = prefix + std::string(260 - prefix.size(), 'b');
    const std::string fitting_path = prefix + std::string(259 - prefix.size(), 'c');
    // 東 where the path goes out in two pieces: it is not split.
    const std::string straddling = prefix + std::string(REPORT_PIECE_SIZE - 1 - prefix.size(), 'd');
    ASSERT_EQ(long_path.size(), 300u);

    const BatchRun run =
        run_batch(folder, {long_path, limit_path, fitting_path, straddling + u8"東"});
    EXPECT_EQ(run.report, m2q_test::expected_record(1, 4, long_path, ERR_PATH_TOO_LONG) +
                              m2q_test::expected_record(2, 4, limit_path, ERR_PATH_TOO_LONG) +
                              not_source_record(3, 4, fitting_path) +
                              m2q_test::expected_record(4, 4, straddling + "\x93\x8C",
                                                        ERR_PATH_TOO_LONG));
    ASSERT_EQ(run.seen.size(), 4u);
    EXPECT_EQ(run.seen[0].code, ERR_PATH_TOO_LONG);
    EXPECT_EQ(run.seen[1].code, ERR_PATH_TOO_LONG);
    EXPECT_EQ(run.seen[2].code, ERR_NOT_SOURCE);
}

#ifndef _WIN32
// Paths are converted from the codeset of the locale in use when the
// report is written, also where that changes from one batch to the next.
// In a Shift-JIS locale they are code page 932 already, but a lead byte
// without its trail byte is no character.
TEST(Report, PathsAreConvertedFromTheCodesetOfTheLocaleInUse) {
    const std::string localedef = "/usr/bin/localedef";
    if (!std::filesystem::exists(localedef)) GTEST_SKIP() << "no localedef";
    TempFolder locales;
    for (const std::string charmap : {"EUC-JP", "SHIFT_JIS"}) {
        // localedef warns that Shift-JIS is not ASCII-compatible and exits 1.
        run_process({localedef, "-f", charmap, "-i", "ja_JP", locales.file("ja_JP." + charmap)},
                    ProcessOptions{});
        if (!std::filesystem::exists(locales.file("ja_JP." + charmap))) {
            GTEST_SKIP() << "no " << charmap << " locale definition";
        }
    }
    struct LocaleBack {
        std::string name = std::setlocale(LC_ALL, nullptr);
        ~LocaleBack() {
            std::setlocale(LC_ALL, name.c_str());
            ::unsetenv("LOCPATH");
        }
    } back;
    ::setenv("LOCPATH", locales.path().c_str(), 1);
    struct Row {
        const char* locale;
        std::string name;
        std::string shown;
    };
    const Row rows[] = {
        {"C", u8"東.psu", "\x93\x8C.psu"},                        // UTF-8
        {"ja_JP.EUC-JP", "\xC5\xEC.psu", "\x93\x8C.psu"},          // 東 in EUC-JP
        {"ja_JP.SHIFT_JIS", "\x93\x8C\x95.psu", "\x93\x8C?.psu"},  // 東, a lone lead byte
        {"ja_JP.SHIFT_JIS", "\x83\x7F.psu", "??.psu"},  // 0x7F trails no lead byte
        {"C", "\xC5\xEC.psu", "??.psu"},                          // no UTF-8
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.locale);
        ASSERT_NE(std::setlocale(LC_ALL, row.locale), nullptr);
        TempFolder folder;
        const BatchRun run = run_batch(folder, {folder.file(row.name)});
        const std::string line = utf8_to_cp932(u8"変換元:") + folder.prefix() + row.shown + "\r\n";
        EXPECT_NE(run.report.find(line), std::string::npos)
            << m2q_test::show_bytes(run.report);
    }
}
#endif

// report.txt given to the batch is a record like any other, and the report
// never replaces it, converted or not: a Melno save named report.txt is
// kept, and the batch goes without a report.
// An older report chosen with the saves is a record like any other file and
// is replaced by the new report; a save named report.txt, or a Quaz save,
// is never replaced.
TEST(Report, ReportTxtAmongTheFilesIsARecordAndOnlyAnOlderReportIsReplaced) {
    enum Kind { OLDER_REPORT, MELNO_SAVE, QUAZ_SAVE };
    for (const Kind kind : {OLDER_REPORT, MELNO_SAVE, QUAZ_SAVE}) {
        SCOPED_TRACE(kind);
        TempFolder folder;
        const std::string report = folder.file("report.txt");
        const m2q_test::Bytes saved = m2q_test::zero_source();
        const std::string old = kind == MELNO_SAVE ? std::string(saved.begin(), saved.end())
                                : kind == QUAZ_SAVE ? std::string(5184406, 'q')
                                                    : std::string("an older report\r\n");
        ASSERT_TRUE(m2q_test::write_file(report, old));
        const BatchRun run = run_batch(folder, {report});
        ASSERT_EQ(run.seen.size(), 1u);
        EXPECT_EQ(run.seen[0].code, kind == MELNO_SAVE ? CONVERT_OK : ERR_NOT_SOURCE);
        EXPECT_EQ(run.summary.report_written, kind == OLDER_REPORT);
        const std::string now = m2q_test::read_text(report);
        if (kind == OLDER_REPORT) {
            EXPECT_EQ(now.rfind("0001/0001\r\n", 0), 0u) << now;
            EXPECT_NE(now.find("report.txt\r\n"), std::string::npos) << now;
        } else {
            EXPECT_TRUE(now == old) << "the save was replaced";
        }
        EXPECT_EQ(folder.entries(), kind == MELNO_SAVE
                                        ? (std::vector<std::string>{"gamedata_report.dat", "report.txt"})
                                        : (std::vector<std::string>{"report.txt"}));
    }
}

#ifndef _WIN32
// A save's name that leads to report.txt (a link: Windows has none the
// batch follows) is passed over: the report takes that name at the end. When that name's folder cannot be looked at, the
// file fails with code 4, and nothing is left behind.
TEST(Report, NoSaveTakesTheNameReportTxtLeadsTo) {
    for (const bool lookup_fails : {false, true}) {
        TempFolder folder;
        const std::string a = folder.file("a.psu");
        ASSERT_TRUE(m2q_test::write_file(a, m2q_test::zero_source()));
        std::filesystem::create_symlink("report.txt", folder.path() / "gamedata_a.dat");
        m2q_test::FaultyPlatform os(platform_native());
        // The source twice, report.txt, the output's name; then its folder.
        if (lookup_fails) os.add_fault(m2q_test::fault_on(m2q_test::PlatformCall::look_up, 5));
        const BatchRun run = run_batch(folder, {a}, os.ops());
        ASSERT_EQ(run.seen.size(), 1u);
        EXPECT_EQ(run.seen[0].code, lookup_fails ? ERR_WRITE_TARGET : CONVERT_OK);
        EXPECT_TRUE(run.summary.report_written);
        EXPECT_EQ(run.report.rfind("0001/0001", 0), 0u);
        std::vector<std::string> entries = {"a.psu", "gamedata_a.dat", "report.txt"};
        if (!lookup_fails) entries.push_back("gamedata_a_1.dat");
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(folder.entries(), entries);
    }
}
#endif

TEST(Report, FilesAreConvertedWhenTheReportCannotBeCreated) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "report.txt");
    const std::string a = folder.file("a.psu");
    const std::string b = folder.file("b.psu");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::zero_source()));
    ASSERT_TRUE(m2q_test::write_file(b, m2q_test::zero_source()));
    BatchRun run = run_batch(folder, {a, folder.file("missing.psu"), b});
    EXPECT_FALSE(run.summary.report_written);
    EXPECT_EQ(run.summary.converted, 2u);
    EXPECT_EQ(run.summary.failed, 1u);
    EXPECT_EQ(run.seen.size(), 3u);
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "gamedata_a.dat"), 5184406u);
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "gamedata_b.dat"), 5184406u);
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "report.txt"));
}

}  // namespace
