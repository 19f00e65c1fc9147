// Failures at boundaries the fault matrix (fault_matrix_test.cpp) does not
// reach: it fails each call of a batch once, reads and writes also short by
// half. Here: a read or write short by exactly one byte or by a small
// amount, a read that returns nothing, and every candidate output name
// refused. Each file fails alone, with its code and text in the report;
// the save its output would have replaced keeps its old bytes, and neither
// a temporary file, an open file nor a block is left behind. These run on
// the disk through the native table (under Wine, the Win32 one).
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "melno2quaz.h"
#include "output_name.h"
#include "source_save.h"
#include "target_save.h"
#include "fault_platform.h"
#include "test_support.h"

namespace {

using m2q_test::Fault;
using m2q_test::FaultyPlatform;
using m2q_test::PlatformCall;
using m2q_test::TempFolder;
using m2q_test::utf8_to_cp932;

struct FailureCase {
    const char* name;
    Fault fault;
    int32_t code;
};

// Faults on the first calls whose path holds `path_part` (a.psu, or the
// names of its output).
Fault fault_of(PlatformCall call, const char* path_part, int times = 1,
               std::uint32_t short_to = m2q_test::NO_SHORT, bool refuse = false) {
    Fault fault = m2q_test::fault_on(call, 1, path_part);
    fault.times = times;
    fault.short_to = short_to;
    fault.refuse = refuse;
    return fault;
}

const FailureCase CASES[] = {
    {"ReadShortByOne", fault_of(PlatformCall::read, "a.psu", 1, SOURCE_SIZE - 1), ERR_READ_SOURCE},
    {"ReadNothing", fault_of(PlatformCall::read, "a.psu", 1, 0), ERR_READ_SOURCE},
    {"EveryOutputNameIsTaken",
     fault_of(PlatformCall::look_up, "gamedata_a", 1 + OUTPUT_NAME_MAX_NUMBER, m2q_test::NO_SHORT, true),
     ERR_WRITE_TARGET},
    {"WriteShort", fault_of(PlatformCall::write, "gamedata_a", 1, 4096), ERR_WRITE_TARGET},
    {"WriteShortByOne", fault_of(PlatformCall::write, "gamedata_a", 1, TARGET_SIZE - 1), ERR_WRITE_TARGET},
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class InjectedFailure : public ::testing::TestWithParam<FailureCase> {};

struct Watch {
    FaultyPlatform* os;
    std::vector<std::string> open_after_first;
    std::size_t live_bytes_after_first = 0;
    std::vector<int32_t> codes;
};

void watch_file(void* context, std::size_t index, std::size_t, const char*, int32_t code,
                const char*,
                const FileOutcome*) {
    auto* watch = static_cast<Watch*>(context);
    watch->codes.push_back(code);
    if (index == 1) {
        watch->open_after_first = watch->os->open_paths();
        watch->live_bytes_after_first = watch->os->live_bytes();
    }
}

TEST_P(InjectedFailure, FileFailsAloneAndLeavesNothingBehind) {
    const FailureCase& c = GetParam();
    TempFolder folder;
    const std::string a = folder.file("a.psu");
    const std::string b = folder.file("b.psu");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::city_source("alpha", 1, 0, 1)));
    ASSERT_TRUE(m2q_test::write_file(b, m2q_test::city_source("beta", 2, 0, 2)));
    const char* paths[] = {a.c_str(), b.c_str()};
    const std::string old_save(5184406, 'o');
    ASSERT_TRUE(m2q_test::write_file(folder.file("gamedata_a.dat"), old_save));

    FaultyPlatform os(platform_native());
    os.add_fault(c.fault);

    Watch watch{&os, {}, 0, {}};
    BatchSummary summary{};
    process_dropped_files(os.ops(), paths, 2, folder.prefix().c_str(), watch_file, &watch, &summary);
    ASSERT_GT(os.faults_applied(), 0) << "the fault never fired";

    const std::string expected =
        m2q_test::expected_record(1, 2, a, c.code) +
        m2q_test::expected_record(2, 2, b, CONVERT_OK,
                                  m2q_test::expected_summary("beta", 2, "000.Winter 4   0:00'00", "2"));
    const std::string report = m2q_test::read_text(folder.file("report.txt"));
    EXPECT_EQ(report, expected) << m2q_test::show_bytes(report);
    EXPECT_EQ(watch.codes, (std::vector<int32_t>{c.code, CONVERT_OK}));
    EXPECT_EQ(summary.converted, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_TRUE(summary.report_written);

    EXPECT_EQ(folder.entries(),
              (std::vector<std::string>{"a.psu", "b.psu", "gamedata_a.dat", "gamedata_b.dat", "report.txt"}));
    EXPECT_TRUE(m2q_test::read_text(folder.file("gamedata_a.dat")) == old_save) << "the old save was damaged";
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "gamedata_b.dat"), 5184406u);

    // Right after the failed file only the report is open and no image is held.
    EXPECT_EQ(watch.open_after_first, std::vector<std::string>{folder.file("report.txt")});
    EXPECT_LT(watch.live_bytes_after_first, 4096u) << "an image is still held";
    EXPECT_EQ(os.open_files(), 0u);
    EXPECT_EQ(os.live_blocks(), 0u);
    EXPECT_EQ(os.misuses(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EachStage, InjectedFailure, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// When the temporary file of a failed output cannot even be deleted, the
// save it was to replace keeps its bytes; the temporary file never had a
// name (Linux) or the system removed it (Windows), so nothing stays.
TEST(InjectedDoubleFailure, UndeletableTemporaryFileLeavesTheOldSaveWhole) {
    TempFolder folder;
    const std::string a = folder.file("a.psu");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::city_source("alpha", 1, 0, 1)));
    ASSERT_TRUE(m2q_test::write_file(folder.file("gamedata_a.dat"), std::string("old save")));
    const char* paths[] = {a.c_str()};

    FaultyPlatform os(platform_native());
    os.add_fault(fault_of(PlatformCall::write, "gamedata_a", 1, TARGET_SIZE / 2));
    os.add_fault(fault_of(PlatformCall::remove, ".m2q-"));

    BatchSummary summary{};
    process_dropped_files(os.ops(), paths, 1, folder.prefix().c_str(), nullptr, nullptr, &summary);
    EXPECT_EQ(os.faults_applied(), 2);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(m2q_test::read_text(folder.file("gamedata_a.dat")), "old save");
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a.psu", "gamedata_a.dat", "report.txt"}));
    EXPECT_EQ(os.open_files(), 0u);
    EXPECT_EQ(os.live_blocks(), 0u);
}

}  // namespace
