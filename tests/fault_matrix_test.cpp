// The fault matrix, the way a fault-injecting file system tests an engine:
// a batch is run once to log every platform call it makes, then once more
// for every call of that log and every way it can go wrong, with exactly
// the call at that place failing. Nothing is expected of a particular step:
// each run must keep the invariants. Every name holds its old bytes or the
// complete new ones, and no temporary file stays; every record tells the
// truth (a converted file has its whole output, a failed one none, and the
// report, when written, holds every record); nothing is left open or held.
// A change in the order of the core's calls moves no expectation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "melno2quaz.h"
#include "sample_save.h"
#include "source_save.h"
#include "target_save.h"
#include "fault_platform.h"
#include "memory_platform.h"
#include "test_support.h"

namespace {

using m2q_test::PlatformCall;

// How the chosen call goes wrong.
enum class Mode {
    Fail,    // the call reports an error (alloc: null; open: no file;
             // read/write: error after nothing was transferred; close: the
             // handle is closed but an error is returned; size: 0)
    Short,   // read/write: half of the bytes are transferred and success is
             // returned with the short count
    Refuse,  // look_up: the name holds a read-only file; replace: the name
             // refuses to be replaced (held open elsewhere)
};

const char* mode_name(Mode mode)
{
    return mode == Mode::Fail ? "fail" : mode == Mode::Short ? "short" : "refuse";
}

// The ways a call of `kind` can go wrong; none for calls that cannot fail.
std::vector<Mode> modes_of(PlatformCall kind)
{
    switch (kind) {
    case PlatformCall::free:
    case PlatformCall::lead_byte: return {};
    case PlatformCall::read:
    case PlatformCall::write: return {Mode::Fail, Mode::Short};
    case PlatformCall::look_up:
    case PlatformCall::replace: return {Mode::Fail, Mode::Refuse};
    default: return {Mode::Fail};
    }
}

// ---------------------------------------------------------------------------
// Helpers.

// The outcome of one file, as the batch's observer saw it, and what was
// still open or held once its record was written.
struct FileOutcome {
    int32_t code;
    std::string message;
    std::string reason;  // the system's words the front ends show
    std::vector<std::string> open_paths;
    std::size_t live_blocks;
};

struct Observed {
    const m2q_test::FaultyPlatform* os;
    std::vector<FileOutcome> outcomes;
};

void observe(void* context, std::size_t, std::size_t, const char*, int32_t code,
             const char* message, const ::FileOutcome* outcome)
{
    auto* seen = static_cast<Observed*>(context);
    seen->outcomes.push_back(FileOutcome{code, message, outcome->reason, seen->os->open_paths(),
                                         seen->os->live_blocks()});
}

struct BatchFile {
    std::string name;    // file name in the source folder
    bool exists;
    SampleSave save;
};

struct RunResult {
    std::vector<FileOutcome> outcomes;
    BatchSummary summary{};
    std::string report;
    std::vector<m2q_test::TraceEntry> trace;
    std::size_t live_blocks = 0;
    std::size_t open_files = 0;
    std::vector<std::string> problems;
    int faults = 0;
};

const char OLD_REPORT[] = "the report of an earlier batch\r\n";
const char OLD_SAVE_NAME[] = "gamedata_alpha.dat";
const std::string OLD_SAVE(TARGET_SIZE, 'o');

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override
    {
        memory_add_folder(memory_, sources_);
        memory_add_folder(memory_, run_dir_);

        // Three saves with different fields and fills, a file one byte too
        // short, and a path that names nothing.
        files_.push_back(make_file("alpha.psu", 1, 3283629, 1234567, SAMPLE_FILL_PATTERN));
        BatchFile wrong{"short.psu", true, sample_save_defaults()};
        wrong.save.size = SOURCE_SIZE - 1;
        files_.push_back(wrong);
        files_.push_back(make_file("bravo.save.psu", 7, -1, -1000, SAMPLE_FILL_CONSTANT));
        files_.push_back(BatchFile{"missing.psu", false, sample_save_defaults()});
        files_.push_back(make_file("charlie", 3, 86400 * 40, 0, SAMPLE_FILL_PATTERN));
        for (const BatchFile& file : files_) {
            if (file.exists) {
                memory_file(memory_, in(sources_, file.name)).bytes = sample_bytes(file.save);
                source_bytes_[file.name] = output_bytes(file.name);
            }
            paths_.push_back(in(sources_, file.name));
        }
    }

    static BatchFile make_file(const char* name, int32_t map, int32_t clock, int64_t funds,
                               SampleFill fill)
    {
        BatchFile file{name, true, sample_save_defaults()};
        sample_set_name(&file.save, name);
        file.save.map_number = map;
        file.save.game_clock = clock;
        file.save.funds = funds;
        file.save.fill = fill;
        file.save.fill_byte = 0x5A;
        return file;
    }

    // The output name of a file: its base name without extension.
    std::string output_name(std::size_t file, bool numbered) const
    {
        std::string base = files_[file].name;
        const std::size_t dot = base.rfind('.');
        if (dot != std::string::npos) {
            base.resize(dot);
        }
        return "gamedata_" + base + (numbered ? "_1" : "") + ".dat";
    }

    // Runs the batch with `fault` planned (null: nothing fails).
    RunResult run(const m2q_test::Fault* fault)
    {
        // What the batch may replace but must never damage.
        memory_file(memory_, report_path()).bytes.assign(OLD_REPORT, OLD_REPORT + sizeof OLD_REPORT - 1);
        memory_file(memory_, in(sources_, OLD_SAVE_NAME)).bytes.assign(OLD_SAVE.begin(), OLD_SAVE.end());
        RunResult result;
        std::vector<const char*> paths;
        for (const std::string& path : paths_) {
            paths.push_back(path.c_str());
        }
        {
            m2q_test::FaultyPlatform os(memory_.ops);
            if (fault != nullptr) {
                os.add_fault(*fault);
            }
            Observed seen{&os, {}};
            process_dropped_files(os.ops(), paths.data(), paths.size(), in(run_dir_, "").c_str(),
                                  observe, &seen, &result.summary);
            result.outcomes = seen.outcomes;
            result.problems = os.misuses();
            result.trace = os.trace();
            result.live_blocks = os.live_blocks();
            result.open_files = os.open_files();
            result.faults = os.faults_applied();
        }
        const std::vector<unsigned char>& report = memory_file(memory_, report_path()).bytes;
        result.report.assign(report.begin(), report.end());
        return result;
    }

    // The invariants of the names after a run: the sources keep their
    // bytes, the old save its old bytes or a converted file's whole output,
    // each file converted has its whole output under its plain or its first
    // numbered name, no other file has one, and no temporary file is left.
    // Then removes the outputs.
    void check_and_clear_names(const std::vector<int32_t>& codes, const std::string& where)
    {
        std::set<std::string> expected;
        for (const BatchFile& file : files_) {
            if (file.exists) {
                expected.insert(file.name);
                EXPECT_TRUE(holds(file.name, source_bytes_[file.name]))
                    << where << ": the source " << file.name << " changed";
            }
        }
        expected.insert(OLD_SAVE_NAME);
        const std::vector<std::string> present = memory_entries(memory_, sources_);
        const std::set<std::string> there(present.begin(), present.end());
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const std::string plain = output_name(i, false);
            const std::string numbered = output_name(i, true);
            const std::string name = there.count(plain) != 0 && !holds(plain, OLD_SAVE) ? plain
                                     : there.count(numbered) != 0                              ? numbered
                                                                                                : std::string();
            if (codes[i] != CONVERT_OK) {
                EXPECT_EQ(name, "") << where << ": file " << i + 1 << " failed, yet has an output";
                continue;
            }
            EXPECT_NE(name, "") << where << ": file " << i + 1 << " converted, yet has no output";
            expected.insert(name);
            EXPECT_TRUE(holds(name, reference_outputs_[i]))
                << where << ": " << name << " is not the whole output";
        }
        // The old save is the first file's plain output name.
        if (codes[0] != CONVERT_OK || !holds(OLD_SAVE_NAME, reference_outputs_[0])) {
            EXPECT_TRUE(holds(OLD_SAVE_NAME, OLD_SAVE)) << where << ": the old save was damaged";
        }
        EXPECT_EQ(there, expected) << where << ": a temporary file or a stray output";
        for (const std::string& name : present) {
            if (name.rfind("gamedata_", 0) == 0 || name.rfind(TEMP_NAME_MARK, 0) == 0) {
                memory_.files.erase(memory_path(memory_, in(sources_, name)));
            }
        }
    }

    // A path in `folder` by the separator of the table the memory stands in for.
    static std::string in(const std::string& folder, const std::string& name)
    {
        return folder + (platform_native().windows_paths ? "\\" : "/") + name;
    }

    std::string report_path() const { return in(run_dir_, "report.txt"); }

    // Whether the file `name` of the source folder holds exactly `bytes`.
    bool holds(const std::string& name, const std::string& bytes) const
    {
        const auto found = memory_.files.find(memory_path(memory_, in(sources_, name)));
        return found != memory_.files.end() && found->second.bytes.size() == bytes.size() &&
               std::equal(bytes.begin(), bytes.end(), found->second.bytes.begin(),
                          [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
    }

    std::string output_bytes(const std::string& name) const
    {
        const auto found = memory_.files.find(memory_path(memory_, in(sources_, name)));
        return found == memory_.files.end()
                   ? std::string()
                   : std::string(found->second.bytes.begin(), found->second.bytes.end());
    }

    MemoryPlatform memory_{false, platform_native().windows_paths};
    const std::string sources_ = in(memory_.current_folder, "saves");
    const std::string run_dir_ = in(memory_.current_folder, "run");
    std::vector<BatchFile> files_;
    std::vector<std::string> paths_;
    std::map<std::size_t, std::string> reference_outputs_;
    std::map<std::string, std::string> source_bytes_;
};

// The reference report's records, split at their counters.
std::vector<std::string> split_records(const std::string& report, std::size_t files)
{
    std::vector<std::string> records;
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= files; ++i) {
        char counter[32];
        std::snprintf(counter, sizeof counter, "%04zu/%04zu\r\n", i + 1, files);
        const std::size_t end = i == files ? report.size() : report.find(counter, begin);
        records.push_back(report.substr(begin, end - begin));
        begin = end;
    }
    return records;
}

// Nothing the core misused, and nothing left open or held: neither after
// each file's record (the report's file at most is open then, and the
// batch's table at most is held) nor at the end of the batch.
void expect_nothing_held(const RunResult& result, const std::string& report, const std::string& where)
{
    EXPECT_EQ(result.problems, std::vector<std::string>{}) << where;
    EXPECT_EQ(result.live_blocks, 0u) << where << ": blocks leaked";
    EXPECT_EQ(result.open_files, 0u) << where << ": files left open";
    for (std::size_t i = 0; i < result.outcomes.size(); ++i) {
        for (const std::string& open : result.outcomes[i].open_paths) {
            EXPECT_EQ(open, report) << where << ": open after file " << i + 1;
        }
        EXPECT_LE(result.outcomes[i].live_blocks, 1u) << where << ": held after file " << i + 1;
    }
}

TEST_F(FaultMatrix, EveryCallOfABatchFailsInTurnAndTheInvariantsHold)
{
    // The reference run: nothing fails.
    const RunResult reference = run(nullptr);
    expect_nothing_held(reference, report_path(), "reference run");
    ASSERT_TRUE(reference.summary.report_written);
    ASSERT_EQ(reference.outcomes.size(), files_.size());
    std::vector<int32_t> reference_codes;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        reference_codes.push_back(reference.outcomes[i].code);
        if (reference.outcomes[i].code == CONVERT_OK) {
            reference_outputs_[i] = output_bytes(output_name(i, false));
            ASSERT_EQ(reference_outputs_[i].size(), TARGET_SIZE) << files_[i].name;
        }
    }
    ASSERT_EQ(reference_codes, (std::vector<int32_t>{CONVERT_OK, ERR_NOT_SOURCE, CONVERT_OK, ERR_NOT_SOURCE,
                                                     CONVERT_OK}));
    check_and_clear_names(reference_codes, "reference run");
    const std::vector<std::string> records = split_records(reference.report, files_.size());
    ASSERT_FALSE(HasFailure());

    std::map<PlatformCall, int> failed_kinds;
    int runs = 0;
    for (std::size_t at = 0; at < reference.trace.size(); ++at) {
        const PlatformCall kind = reference.trace[at].call;
        for (const Mode mode : modes_of(kind)) {
            ++runs;
            const std::string where = "call " + std::to_string(at) + " (" + m2q_test::platform_call_name(kind) +
                                      " " + reference.trace[at].path + ", " + mode_name(mode) + ")";
            SCOPED_TRACE(where);
            m2q_test::Fault fault = m2q_test::fault_at(kind, static_cast<long>(at));
            if (mode == Mode::Short) {
                fault.short_to = static_cast<std::uint32_t>(reference.trace[at].size / 2);
            }
            fault.refuse = mode == Mode::Refuse;
            const RunResult result = run(&fault);
            EXPECT_EQ(result.faults, 1) << "the call at that place is another now";
            ++failed_kinds[kind];

            expect_nothing_held(result, report_path(), where);
            ASSERT_EQ(result.outcomes.size(), files_.size());
            const bool table_lost = std::all_of(result.outcomes.begin(), result.outcomes.end(),
                                                [](const FileOutcome& o) { return o.code == ERR_SOURCE_MEMORY; });
            std::vector<int32_t> codes;
            std::string expected_report;
            std::size_t converted = 0;
            for (std::size_t i = 0; i < files_.size(); ++i) {
                const FileOutcome& outcome = result.outcomes[i];
                codes.push_back(outcome.code);
                // A fault never makes a file convert that did not.
                EXPECT_TRUE(outcome.code != CONVERT_OK || reference_codes[i] == CONVERT_OK) << files_[i].name;
                if (outcome.code == CONVERT_OK) {
                    ++converted;
                    EXPECT_EQ(outcome.message, reference.outcomes[i].message) << files_[i].name;
                    expected_report += records[i];
                } else {
                    EXPECT_EQ(outcome.message, m2q_test::error_text_cp932(outcome.code)) << files_[i].name;
                    // A file the failure cost tells the failing call's words, but where the
                    // batch's table was lost before any file was taken (every file code 3).
                    if (outcome.code != reference_codes[i] && !table_lost) {
                        EXPECT_EQ(outcome.reason, "injected failure") << files_[i].name;
                    }
                    expected_report += outcome.code == reference_codes[i]
                                           ? records[i]
                                           : m2q_test::expected_record(i + 1, files_.size(), paths_[i],
                                                                       outcome.code);
                }
            }
            EXPECT_EQ(result.summary.converted, converted);
            EXPECT_EQ(result.summary.failed, files_.size() - converted);
            check_and_clear_names(codes, where);
            // The report: the whole report of these records, or the earlier
            // one as it was, and the batch tells which.
            EXPECT_EQ(result.report, result.summary.report_written ? expected_report : std::string(OLD_REPORT));
        }
    }

    // Every kind of call that can fail was failed, but remove, which only a
    // failure calls (InjectedDoubleFailure fails it too).
    for (int kind = 0; kind < m2q_test::PLATFORM_CALL_KINDS; ++kind) {
        const auto call = static_cast<PlatformCall>(kind);
        if (!modes_of(call).empty() && call != PlatformCall::remove) {
            EXPECT_GT(failed_kinds[call], 0) << m2q_test::platform_call_name(call);
        }
    }
    std::printf("fault matrix: %d runs, each failing one of the %zu calls of a %zu-file batch:", runs,
                reference.trace.size(), files_.size());
    for (const auto& entry : failed_kinds) {
        std::printf(" %s=%d", m2q_test::platform_call_name(entry.first), entry.second);
    }
    std::printf("\n");
    RecordProperty("runs", runs);
}

}  // namespace
