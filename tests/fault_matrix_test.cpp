// The fault matrix: a batch is run once to record every platform call it
// makes, then once more for every call and every way that call can go
// wrong, with exactly that one call failing. Each run must end with the
// right code and text for the file the call belonged to, every other file
// converted and recorded as before, no incomplete output left behind, and
// every block freed and every file closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// ---------------------------------------------------------------------------
// The calls of a batch that can fail, each told by what the core was doing
// (the purpose the fault-injecting table logged) and which call it made.
// Frees, removes and lead-byte questions are no failure points.

using m2q_test::PlatformCall;

struct Point {
    CallPurpose purpose;
    PlatformCall call;
};

constexpr Point POINTS[] = {
    {PURPOSE_BATCH_TABLE, PlatformCall::alloc},
    {PURPOSE_SOURCE_LIST, PlatformCall::look_up},
    {PURPOSE_REPORT_NAME, PlatformCall::look_up},
    {PURPOSE_REPORT_CHECK, PlatformCall::look_up},
    {PURPOSE_REPORT, PlatformCall::create_temp},
    {PURPOSE_REPORT, PlatformCall::write},
    {PURPOSE_REPORT, PlatformCall::flush},
    {PURPOSE_REPORT, PlatformCall::close},
    {PURPOSE_REPORT, PlatformCall::replace},
    {PURPOSE_SOURCE, PlatformCall::alloc},  // the image is built inside it: no second block
    {PURPOSE_SOURCE, PlatformCall::open_read},
    {PURPOSE_SOURCE, PlatformCall::file_size},
    {PURPOSE_SOURCE, PlatformCall::read},
    {PURPOSE_SOURCE, PlatformCall::close},
    {PURPOSE_OUTPUT_OWNER, PlatformCall::look_up},
    {PURPOSE_OUTPUT_NAME, PlatformCall::look_up},
    {PURPOSE_OUTPUT, PlatformCall::create_temp},
    {PURPOSE_OUTPUT, PlatformCall::write},
    {PURPOSE_OUTPUT, PlatformCall::flush},
    {PURPOSE_OUTPUT, PlatformCall::close},
    {PURPOSE_WRITTEN_IDENTITY, PlatformCall::look_up},
    {PURPOSE_OUTPUT, PlatformCall::replace},
};
constexpr int POINT_COUNT = static_cast<int>(sizeof POINTS / sizeof POINTS[0]);
constexpr int NO_POINT = -1;

int point_of(CallPurpose purpose, PlatformCall call)
{
    for (int i = 0; i < POINT_COUNT; ++i) {
        if (POINTS[i].purpose == purpose && POINTS[i].call == call) {
            return i;
        }
    }
    return NO_POINT;
}

std::string point_name(int point)
{
    return std::string(m2q_test::purpose_name(POINTS[point].purpose)) + "-" +
           m2q_test::platform_call_name(POINTS[point].call);
}

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

// One logged call of a run; those at a failure point can be made to go
// wrong, by failing the `nth` call of its kind in a later run.
struct Call {
    int point;                  // index in POINTS, or NO_POINT
    std::size_t file;           // index of the batch file being handled
    PlatformCall kind;
    int nth;                    // the nth call of its kind for its purpose in the run
    std::uint32_t bytes;        // bytes asked for (read, write)
    std::size_t report_offset;  // report bytes written before this call
};

// The calls of a run. `file_ends[i]` is the length the trace had when file
// i's record was done: the calls after it belong to file i + 1, those after
// the last one to the end of the batch.
std::vector<Call> attribute(const std::vector<m2q_test::TraceEntry>& trace,
                            const std::vector<std::size_t>& file_ends)
{
    std::vector<Call> calls;
    std::map<std::pair<PlatformCall, CallPurpose>, int> nth;
    std::size_t file = 0;
    std::size_t report_bytes = 0;
    for (std::size_t at = 0; at < trace.size(); ++at) {
        const m2q_test::TraceEntry& entry = trace[at];
        while (file < file_ends.size() && file_ends[file] <= at) {
            ++file;
        }
        calls.push_back(Call{point_of(entry.purpose, entry.call), file, entry.call,
                             ++nth[{entry.call, entry.purpose}],
                             static_cast<std::uint32_t>(entry.size), report_bytes});
        if (entry.purpose == PURPOSE_REPORT && entry.call == PlatformCall::write) {
            report_bytes += entry.done;
        }
    }
    return calls;
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
    std::vector<std::size_t> file_ends;  // the trace's length after each file
};

void observe(void* context, std::size_t, std::size_t, const char*, int32_t code,
             const char* message, const ::FileOutcome* outcome)
{
    auto* seen = static_cast<Observed*>(context);
    seen->outcomes.push_back(FileOutcome{code, message, outcome->reason, seen->os->open_paths(),
                                         seen->os->live_blocks()});
    seen->file_ends.push_back(seen->os->trace().size());
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
    std::vector<Call> calls;
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
            Observed seen{&os, {}, {}};
            process_dropped_files(os.ops(), paths.data(), paths.size(), in(run_dir_, "").c_str(),
                                  observe, &seen, &result.summary);
            result.outcomes = seen.outcomes;
            result.problems = os.misuses();
            result.calls = attribute(os.trace(), seen.file_ends);
            result.live_blocks = os.live_blocks();
            result.open_files = os.open_files();
            result.faults = os.faults_applied();
        }
        const std::vector<unsigned char>& report = memory_file(memory_, report_path()).bytes;
        result.report.assign(report.begin(), report.end());
        return result;
    }

    // Checks the source folder holds the sources, the old save (its old
    // bytes unless it was replaced) and exactly `outputs` (name -> the file
    // they come from), each a complete, identical copy of that file's
    // reference output, and no temporary file; then removes the outputs.
    void check_and_clear_outputs(const std::map<std::string, std::size_t>& outputs,
                                 const std::string& where)
    {
        std::set<std::string> expected;
        for (const BatchFile& file : files_) {
            if (file.exists) {
                expected.insert(file.name);
            }
        }
        for (const auto& output : outputs) {
            expected.insert(output.first);
        }
        expected.insert(OLD_SAVE_NAME);
        if (outputs.count(OLD_SAVE_NAME) == 0) {
            EXPECT_TRUE(output_bytes(OLD_SAVE_NAME) == OLD_SAVE) << where << ": the old save was damaged";
        }
        const std::vector<std::string> present = memory_entries(memory_, sources_);
        EXPECT_EQ(std::set<std::string>(present.begin(), present.end()), expected) << where;

        for (const auto& output : outputs) {
            const std::string bytes = output_bytes(output.first);
            EXPECT_EQ(bytes.size(), TARGET_SIZE) << where << ": " << output.first;
            EXPECT_TRUE(bytes == reference_outputs_[output.second])
                << where << ": " << output.first << " differs from the reference output";
        }
        for (const std::string& name : present) {
            if (name.rfind("gamedata_", 0) == 0) {
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
};

// A record of the reference report, split at the file boundaries.
std::vector<std::string> split_records(const std::string& report, const std::vector<Call>& calls,
                                       std::size_t files)
{
    // The report bytes written before the first call of file i+1 (or the
    // end) close record i.
    std::vector<std::size_t> ends(files, report.size());
    for (const Call& call : calls) {
        if (call.file >= 1 && call.file <= files && call.point != point_of(PURPOSE_REPORT, PlatformCall::close)) {
            ends[call.file - 1] = std::min(ends[call.file - 1], call.report_offset);
        }
    }
    std::vector<std::string> records;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < files; ++i) {
        records.push_back(report.substr(begin, ends[i] - begin));
        begin = ends[i];
    }
    return records;
}

// Nothing the core misused, and nothing left open or held: neither after
// each file's record (only the report is open then, unless it could not
// be created, and only the batch's table is held) nor at the end of the
// batch.
void expect_nothing_held(const RunResult& result, const std::string& report, bool report_open,
                         bool table_held = true)
{
    EXPECT_EQ(result.problems, std::vector<std::string>{});
    EXPECT_EQ(result.live_blocks, 0u) << "blocks leaked";
    EXPECT_EQ(result.open_files, 0u) << "files left open";
    for (std::size_t i = 0; i < result.outcomes.size(); ++i) {
        const std::vector<std::string>& open = result.outcomes[i].open_paths;
        EXPECT_EQ(open, report_open ? std::vector<std::string>{report} : std::vector<std::string>{})
            << "after file " << i + 1;
        EXPECT_EQ(result.outcomes[i].live_blocks, table_held ? 1u : 0u) << "after file " << i + 1;
    }
}

TEST_F(FaultMatrix, EveryFailurePointOfABatch)
{
    // The reference run: nothing fails.
    const RunResult reference = run(nullptr);
    expect_nothing_held(reference, report_path(), true);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(reference.summary.report_written);
    ASSERT_EQ(reference.outcomes.size(), files_.size());
    const std::vector<int32_t> reference_codes = {CONVERT_OK, ERR_NOT_SOURCE, CONVERT_OK,
                                                  ERR_NOT_SOURCE, CONVERT_OK};
    std::map<std::string, std::size_t> reference_names;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        ASSERT_EQ(reference.outcomes[i].code, reference_codes[i]) << files_[i].name;
        if (reference_codes[i] == CONVERT_OK) {
            const std::string name = output_name(i, false);
            reference_outputs_[i] = output_bytes(name);
            ASSERT_EQ(reference_outputs_[i].size(), TARGET_SIZE);
            reference_names[name] = i;
        }
    }
    check_and_clear_outputs(reference_names, "reference run");
    const std::vector<std::string> records =
        split_records(reference.report, reference.calls, files_.size());
    ASSERT_EQ(records.size(), files_.size());
    for (std::size_t i = 0; i < files_.size(); ++i) {
        char counter[32];
        std::snprintf(counter, sizeof counter, "%04zu/%04zu\r\n", i + 1, files_.size());
        ASSERT_EQ(records[i].rfind(counter, 0), 0u) << records[i];
        ASSERT_NE(records[i].find(paths_[i]), std::string::npos) << records[i];
    }

    // Every call that can fail, in every way it can fail.
    std::map<int, int> points_by_kind;
    int points = 0;
    const auto failure_calls = std::count_if(reference.calls.begin(), reference.calls.end(),
                                             [](const Call& call) { return call.point != NO_POINT; });
    for (std::size_t at = 0; at < reference.calls.size(); ++at) {
        const Call& call = reference.calls[at];
        if (call.point == NO_POINT) {
            continue;
        }
        const CallPurpose purpose = POINTS[call.point].purpose;
        const bool transfers = call.kind == PlatformCall::read || call.kind == PlatformCall::write;
        const bool names = (purpose == PURPOSE_OUTPUT_NAME && call.kind == PlatformCall::look_up) ||
                           (purpose == PURPOSE_OUTPUT && call.kind == PlatformCall::replace);
        std::vector<Mode> modes = {Mode::Fail};
        if (transfers) {
            modes.push_back(Mode::Short);
        }
        if (names) {
            modes.push_back(Mode::Refuse);
        }
        for (const Mode mode : modes) {
            ++points;
            ++points_by_kind[call.point];
            const std::string file = call.file < files_.size()
                                         ? "file " + std::to_string(call.file + 1)
                                         : std::string("the batch");
            const std::string where = "call " + std::to_string(at) + " (" + point_name(call.point) +
                                      " of " + file + ", " + mode_name(mode) + ")";
            SCOPED_TRACE(where);
            m2q_test::Fault fault = m2q_test::fault_on(call.kind, call.nth, purpose);
            if (mode == Mode::Short) {
                fault.short_to = call.bytes / 2;
            }
            fault.refuse = mode == Mode::Refuse;
            const RunResult result = run(&fault);
            EXPECT_EQ(result.faults, 1);

            // What the failing call must do to its file, and to the report.
            const std::size_t hit = std::min(call.file, files_.size() - 1);
            std::vector<int32_t> codes = reference_codes;
            bool numbered_output = false;
            bool report_complete = true;
            switch (purpose) {
            case PURPOSE_BATCH_TABLE: codes.assign(files_.size(), ERR_SOURCE_MEMORY); break;
            case PURPOSE_SOURCE:
                // A read-only close has nothing to lose.
                codes[hit] = call.kind == PlatformCall::alloc  ? ERR_SOURCE_MEMORY
                             : call.kind == PlatformCall::read ? ERR_READ_SOURCE
                             : call.kind == PlatformCall::close ? codes[hit]
                                                                : ERR_NOT_SOURCE;
                break;
            case PURPOSE_OUTPUT_OWNER:
            case PURPOSE_OUTPUT_NAME:
            case PURPOSE_OUTPUT:
            case PURPOSE_WRITTEN_IDENTITY:
                // A name that is taken, or refuses the replace, passes the
                // turn to the next number; a failure stops the file.
                numbered_output = mode == Mode::Refuse;
                codes[hit] = numbered_output ? codes[hit] : ERR_WRITE_TARGET;
                break;
            case PURPOSE_REPORT_NAME:
            case PURPOSE_REPORT_CHECK:
            case PURPOSE_REPORT: report_complete = false; break;
            default: break;  // a source listed: it goes unguarded; nothing shows
            }

            const bool report_opened = purpose != PURPOSE_REPORT_NAME &&
                                       call.point != point_of(PURPOSE_REPORT, PlatformCall::create_temp);
            expect_nothing_held(result, report_path(), report_opened, purpose != PURPOSE_BATCH_TABLE);
            ASSERT_EQ(result.outcomes.size(), files_.size());
            std::size_t converted = 0;
            std::map<std::string, std::size_t> outputs;
            std::string expected_report;
            for (std::size_t i = 0; i < files_.size(); ++i) {
                EXPECT_EQ(result.outcomes[i].code, codes[i]) << files_[i].name;
                if (codes[i] == CONVERT_OK) {
                    ++converted;
                    EXPECT_EQ(result.outcomes[i].message, reference.outcomes[i].message);
                    outputs[output_name(i, numbered_output && i == hit)] = i;
                    expected_report += records[i];
                } else {
                    EXPECT_EQ(result.outcomes[i].message, m2q_test::error_text_cp932(codes[i]));
                    if (i == hit && codes[i] != reference_codes[i] && purpose != PURPOSE_BATCH_TABLE) {
                        EXPECT_EQ(result.outcomes[i].reason, "injected failure");
                    }
                    expected_report += codes[i] == reference_codes[i]
                                           ? records[i]
                                           : m2q_test::expected_record(i + 1, files_.size(),
                                                                       paths_[i], codes[i]);
                }
            }
            EXPECT_EQ(result.summary.converted, converted);
            EXPECT_EQ(result.summary.failed, files_.size() - converted);
            check_and_clear_outputs(outputs, where);

            // The report: whole when its own calls went right; otherwise the
            // earlier report stays as it was, and the batch knows.
            EXPECT_EQ(result.summary.report_written, report_complete);
            EXPECT_EQ(result.report, report_complete ? expected_report : std::string(OLD_REPORT));
        }
    }

    // Every kind of failure point was reached.
    for (int point = 0; point < POINT_COUNT; ++point) {
        EXPECT_GT(points_by_kind[point], 0) << point_name(point);
    }
    std::printf("fault matrix: %d failure points over %d calls (%zu with frees and removes) "
                "of a %zu-file batch:",
                points, static_cast<int>(failure_calls), reference.calls.size(), files_.size());
    for (const auto& entry : points_by_kind) {
        std::printf(" %s=%d", point_name(entry.first).c_str(), entry.second);
    }
    std::printf("\n");
    RecordProperty("failure_points", points);
}

}  // namespace
