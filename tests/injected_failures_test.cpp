// Failures of memory and file operations, injected through the platform
// table: each file fails alone, with its code and text in the report, and
// leaves neither an output file, an open file nor a block behind.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "melno2quaz.h"
#include "source_save.h"
#include "target_save.h"
#include "test_support.h"

namespace {

using m2q_test::Bytes;
using m2q_test::Fault;
using m2q_test::FaultyPlatform;
using m2q_test::PlatformCall;
using m2q_test::TempFolder;
using m2q_test::utf8_to_cp932;

struct FailureCase {
    const char* name;
    Fault fault;
    bool last_output_close;  // fail the last close of the output, found by a dry run
    int32_t code;
    const char* text;        // UTF-8
};

Fault fault_of(PlatformCall call, const char* path_part, int first = 1, int times = 1,
               std::uint32_t short_to = m2q_test::NO_SHORT, std::size_t alloc_size = 0) {
    Fault fault;
    fault.call = call;
    fault.path_part = path_part;
    fault.first = first;
    fault.times = times;
    fault.short_to = short_to;
    fault.alloc_size = alloc_size;
    return fault;
}

const char* const WORK_MEMORY_TEXT = u8"作業用メモリの確保に失敗しました。\n";
const char* const NOT_SOURCE_TEXT = u8"Melnoのデータではありません。\n";
const char* const SOURCE_MEMORY_TEXT = u8"ディレクトリ、または、メモリの確保に失敗しました。\r\n";
const char* const WRITE_TEXT = u8"Quazファイルの書き込みに失敗しました。\r\n";
const char* const READ_TEXT = u8"Melnoファイルの読み込みに失敗しました。\r\n";

const FailureCase CASES[] = {
    {"SourceAlloc", fault_of(PlatformCall::alloc, "", 1, 1, m2q_test::NO_SHORT, SOURCE_SIZE), false,
     ERR_SOURCE_MEMORY, SOURCE_MEMORY_TEXT},
    {"WorkImageAlloc", fault_of(PlatformCall::alloc, "", 1, 1, m2q_test::NO_SHORT, TARGET_SIZE), false,
     ERR_WORK_MEMORY, WORK_MEMORY_TEXT},
    {"SourceOpen", fault_of(PlatformCall::open_read, "a.psu"), false, ERR_NOT_SOURCE, NOT_SOURCE_TEXT},
    {"ReadFails", fault_of(PlatformCall::read, "a.psu"), false, ERR_READ_SOURCE, READ_TEXT},
    {"ReadShort", fault_of(PlatformCall::read, "a.psu", 1, 1, SOURCE_SIZE - 1), false, ERR_READ_SOURCE,
     READ_TEXT},
    {"ReadNothing", fault_of(PlatformCall::read, "a.psu", 1, 1, 0), false, ERR_READ_SOURCE, READ_TEXT},
    {"EveryOutputNameFails", fault_of(PlatformCall::create_write, "gamedata_a", 1, m2q_test::FAULT_FOREVER),
     false, ERR_WRITE_TARGET, WRITE_TEXT},
    {"OpenAtWriteTime", fault_of(PlatformCall::create_write, "gamedata_a", 2), false, ERR_WRITE_TARGET,
     WRITE_TEXT},
    {"WriteFails", fault_of(PlatformCall::write, "gamedata_a"), false, ERR_WRITE_TARGET, WRITE_TEXT},
    {"WriteShort", fault_of(PlatformCall::write, "gamedata_a", 1, 1, 4096), false, ERR_WRITE_TARGET,
     WRITE_TEXT},
    {"WriteShortByOne", fault_of(PlatformCall::write, "gamedata_a", 1, 1, TARGET_SIZE - 1), false,
     ERR_WRITE_TARGET, WRITE_TEXT},
    {"OutputClose", fault_of(PlatformCall::close, "gamedata_a"), true, ERR_WRITE_TARGET, WRITE_TEXT},
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class InjectedFailure : public ::testing::TestWithParam<FailureCase> {};

struct Watch {
    FaultyPlatform* os;
    std::vector<std::string> open_after_first;
    std::size_t live_bytes_after_first = 0;
    std::vector<int32_t> codes;
};

void watch_file(void* context, std::size_t index, std::size_t, const char*, int32_t code, const char*) {
    auto* watch = static_cast<Watch*>(context);
    watch->codes.push_back(code);
    if (index == 1) {
        watch->open_after_first = watch->os->open_paths();
        watch->live_bytes_after_first = watch->os->live_bytes();
    }
}

std::string record(std::size_t index, const std::string& path, const std::string& body) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "%04zu/0002", index);
    return counter + utf8_to_cp932(u8"\r\n  変換元:") + path + "\r\n  " + body;
}

TEST_P(InjectedFailure, FileFailsAloneAndLeavesNothingBehind) {
    const FailureCase& c = GetParam();
    TempFolder folder;
    const std::string a = folder.file("a.psu");
    const std::string b = folder.file("b.psu");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::city_source("alpha", 1, 0, 1)));
    ASSERT_TRUE(m2q_test::write_file(b, m2q_test::city_source("beta", 2, 0, 2)));
    const char* paths[] = {a.c_str(), b.c_str()};

    FaultyPlatform os;
    m2q_test::CurrentFolderGuard in_folder(folder.path());
    Fault fault = c.fault;
    if (c.last_output_close) {
        process_dropped_files(paths, 2);
        fault.first = os.calls_on(PlatformCall::close, fault.path_part);
        ASSERT_GT(fault.first, 0);
        std::filesystem::remove(folder.path() / "gamedata_a.dat");
        std::filesystem::remove(folder.path() / "gamedata_b.dat");
    }
    os.add_fault(fault);
    os.reset_counts();

    Watch watch{&os, {}, 0, {}};
    BatchSummary summary{};
    process_dropped_files(paths, 2, watch_file, &watch, &summary);
    ASSERT_GT(os.faults_applied(), 0) << "the fault never fired";

    const std::string expected =
        record(1, a, utf8_to_cp932(c.text) + "  (Err:" + std::to_string(c.code) + ")\r\n\r\n") +
        record(2, b,
               utf8_to_cp932(u8"都市名:beta\r\n  マップ:2\r\n  時  間:000.Winter 4   0:00'00\r\n"
                             u8"  資  金:2\r\n\r\n"));
    const std::string report = m2q_test::read_text(folder.file("report.txt"));
    EXPECT_EQ(report, expected) << m2q_test::show_bytes(report);
    EXPECT_EQ(watch.codes, (std::vector<int32_t>{c.code, CONVERT_OK}));
    EXPECT_EQ(summary.converted, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_TRUE(summary.report_written);

    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"a.psu", "b.psu", "gamedata_b.dat", "report.txt"}));
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "gamedata_b.dat"), 5184406u);

    // Right after the failed file only the report is open and no image is held.
    EXPECT_EQ(watch.open_after_first, std::vector<std::string>{"report.txt"});
    EXPECT_EQ(watch.live_bytes_after_first, 0u);
    EXPECT_EQ(os.open_files(), 0u);
    EXPECT_EQ(os.live_blocks(), 0u);
    EXPECT_EQ(os.misuses(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EachStage, InjectedFailure, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// Every operation of one conversion, failed in turn: whatever the code, the
// file is either converted whole or leaves no output, and nothing leaks.
TEST(InjectedFailureSweep, EveryCallOfAConversionFailedOnce) {
    TempFolder folder;
    const std::string a = folder.file("a.psu");
    ASSERT_TRUE(m2q_test::write_file(a, m2q_test::pattern_source(2)));
    const std::string output = folder.file("gamedata_a.dat");

    std::vector<m2q_test::TraceEntry> trace;
    {
        FaultyPlatform os;
        char message[MESSAGE_SIZE];
        ASSERT_EQ(convert_file(a.c_str(), message), CONVERT_OK);
        trace = os.trace();
    }
    const Bytes converted = m2q_test::read_file(output);
    ASSERT_EQ(converted.size(), 5184406u);

    int kinds_seen[m2q_test::PLATFORM_CALL_KINDS] = {};
    int failed_runs = 0;
    for (const m2q_test::TraceEntry& entry : trace) {
        const int nth = ++kinds_seen[static_cast<int>(entry.call)];
        if (entry.call == PlatformCall::size_low || entry.call == PlatformCall::free) continue;
        SCOPED_TRACE(std::string(m2q_test::platform_call_name(entry.call)) + " #" + std::to_string(nth));
        for (const std::string& name : folder.entries()) {
            if (name != "a.psu") std::filesystem::remove(folder.path() / name);
        }

        FaultyPlatform os;
        os.add_fault(fault_of(entry.call, "", nth));
        char message[MESSAGE_SIZE];
        std::memset(message, 'X', sizeof message);
        const int32_t code = convert_file(a.c_str(), message);
        ASSERT_EQ(os.faults_applied(), 1);
        ASSERT_NE(std::memchr(message, '\0', sizeof message), nullptr);
        const std::vector<std::string> entries = folder.entries();
        if (code == CONVERT_OK) {
            // A name that could not be probed gives way to "gamedata_a_1.dat".
            ASSERT_EQ(entries.size(), 2u);
            EXPECT_EQ(entries[1].rfind("gamedata_a", 0), 0u);
            EXPECT_EQ(m2q_test::read_file(folder.file(entries[1])), converted);
        } else {
            ++failed_runs;
            EXPECT_EQ(entries, std::vector<std::string>{"a.psu"}) << "code " << code;
            EXPECT_EQ(std::string(message).find(utf8_to_cp932(u8"都市名")), std::string::npos)
                << "a failed file keeps its summary";
        }
        EXPECT_EQ(os.open_files(), 0u);
        EXPECT_EQ(os.live_blocks(), 0u);
        EXPECT_EQ(os.misuses(), std::vector<std::string>{});
    }
    EXPECT_GE(failed_runs, 6);
}

}  // namespace
