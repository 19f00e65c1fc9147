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
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "melno2quaz.h"
#include "sample_save.h"
#include "source_save.h"
#include "target_save.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// What each platform call was for, worked out from the trace of the
// fault-injecting table (m2q_test::FaultyPlatform) after the batch ran.

enum class Role {
    BatchTable,      // allocation of the batch's table of its files
    SourceList,      // look_up of each source when the batch starts
    ReportName,      // look_up of report.txt
    ReportCheck,     // look_up of report.txt at the end: is it a save now?
    ReportOpen,      // create_temp beside report.txt
    ReportWrite,     // write of one piece of the report
    ReportFlush,     // flush of the report
    ReportClose,     // close of the report
    ReportReplace,   // replace of report.txt
    SourceBlock,     // allocation of the source block (the image is built
                     // inside it: there is no second block)
    SourceOpen,      // open_read
    SourceSize,      // file_size
    SourceRead,      // read
    SourceClose,     // close of the source
    OutputOwner,     // look_up of the source when its output is named
    NameLookup,      // look_up of a candidate output name
    OutputOpen,      // create_temp beside the output
    OutputWrite,     // write of the target image
    OutputFlush,     // flush of the output
    OutputClose,     // close of the output
    OutputIdentity,  // look_up of the written temporary file
    OutputReplace,   // replace of the output name
    Other,           // free_block, remove_file, and calls on files not open:
                     // not failure points
};

const char* role_name(Role role)
{
    switch (role) {
    case Role::BatchTable: return "batch-table";
    case Role::SourceList: return "source-list";
    case Role::ReportName: return "report-name";
    case Role::ReportCheck: return "report-check";
    case Role::ReportOpen: return "report-open";
    case Role::ReportWrite: return "report-write";
    case Role::ReportFlush: return "report-flush";
    case Role::ReportClose: return "report-close";
    case Role::ReportReplace: return "report-replace";
    case Role::SourceBlock: return "source-block";
    case Role::SourceOpen: return "source-open";
    case Role::SourceSize: return "source-size";
    case Role::SourceRead: return "source-read";
    case Role::SourceClose: return "source-close";
    case Role::OutputOwner: return "output-owner";
    case Role::NameLookup: return "name-lookup";
    case Role::OutputOpen: return "output-open";
    case Role::OutputWrite: return "output-write";
    case Role::OutputFlush: return "output-flush";
    case Role::OutputClose: return "output-close";
    case Role::OutputIdentity: return "output-identity";
    case Role::OutputReplace: return "output-replace";
    case Role::Other: return "other";
    }
    return "?";
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

// One traced call of a run; those with a role other than Other can be made
// to go wrong, by failing the `nth` call of its kind in a later run.
struct Call {
    Role role;
    std::size_t file;           // index of the batch file being handled
    m2q_test::PlatformCall kind;
    int nth;                    // the nth call of its kind in the run
    std::uint32_t bytes;        // bytes asked for (read, write)
    std::size_t report_offset;  // report bytes written before this call
};

// True for the path of report.txt in the batch's report folder.
bool names_report(const std::string& path)
{
    const std::string name = "report.txt";
    return path.size() > name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0 &&
           (path[path.size() - name.size() - 1] == '/' || path[path.size() - name.size() - 1] == '\\');
}

// Works out what every traced call was for. `file_ends[i]` is the length
// the trace had when file i's record was done: the calls after it belong to
// file i + 1, those after the last one to the end of the batch.
std::vector<Call> attribute(const std::vector<m2q_test::TraceEntry>& trace,
                            const std::vector<std::size_t>& file_ends,
                            std::vector<std::string>* problems)
{
    using m2q_test::PlatformCall;
    std::vector<Call> calls;
    std::map<int, Role> opened_as;  // file number -> the role of its opening
    std::array<int, m2q_test::PLATFORM_CALL_KINDS> nth{};
    std::size_t file = 0;
    bool report_looked_up = false;
    std::size_t report_bytes = 0;
    for (std::size_t at = 0; at < trace.size(); ++at) {
        const m2q_test::TraceEntry& entry = trace[at];
        while (file < file_ends.size() && file_ends[file] <= at) {
            ++file;
        }
        const auto opener = opened_as.find(entry.file);
        const Role opened = opener != opened_as.end() ? opener->second : Role::Other;
        const bool on_report = opened == Role::ReportOpen;
        Role role = Role::Other;
        switch (entry.call) {
        case PlatformCall::alloc:
            role = entry.size == SOURCE_SIZE ? Role::SourceBlock : Role::BatchTable;
            break;
        case PlatformCall::look_up:
            if (names_report(entry.path)) {
                role = report_looked_up ? Role::ReportCheck : Role::ReportName;
                report_looked_up = true;
            } else if (entry.path.find(TEMP_NAME_MARK) != std::string::npos) {
                role = Role::OutputIdentity;
            } else if (entry.path.find("gamedata_") != std::string::npos) {
                role = Role::NameLookup;
            } else {
                role = report_looked_up ? Role::OutputOwner : Role::SourceList;
            }
            break;
        case PlatformCall::open_read: role = Role::SourceOpen; break;
        case PlatformCall::file_size: role = Role::SourceSize; break;
        case PlatformCall::read: role = Role::SourceRead; break;
        case PlatformCall::create_temp:
            role = names_report(entry.path) ? Role::ReportOpen : Role::OutputOpen;
            break;
        case PlatformCall::write:
            role = on_report ? Role::ReportWrite : Role::OutputWrite;
            break;
        case PlatformCall::flush:
            role = on_report ? Role::ReportFlush : Role::OutputFlush;
            break;
        case PlatformCall::close:
            role = opened == Role::SourceOpen   ? Role::SourceClose
                   : opened == Role::ReportOpen ? Role::ReportClose
                   : opened == Role::OutputOpen ? Role::OutputClose
                                                : Role::Other;
            break;
        case PlatformCall::replace:
            role = names_report(entry.path) ? Role::ReportReplace : Role::OutputReplace;
            break;
        default: break;  // free, remove, lead byte: not failure points
        }
        if (entry.file != 0 &&
            (entry.call == PlatformCall::open_read || entry.call == PlatformCall::create_temp)) {
            opened_as[entry.file] = role;
        }
        if (entry.call == PlatformCall::write && opened != Role::ReportOpen &&
            opened != Role::OutputOpen) {
            problems->push_back(std::string("write to a file not opened for it: ") + entry.path);
        }
        const int kind = static_cast<int>(entry.call);
        calls.push_back(Call{role, file, entry.call, ++nth[kind],
                             static_cast<std::uint32_t>(entry.size), report_bytes});
        if (role == Role::ReportWrite) {
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
    std::vector<std::string> open_paths;
    std::size_t live_blocks;
};

struct Observed {
    const m2q_test::FaultyPlatform* os;
    std::vector<FileOutcome> outcomes;
    std::vector<std::size_t> file_ends;  // the trace's length after each file
};

void observe(void* context, std::size_t, std::size_t, const char*, int32_t code,
             const char* message, const ::FileOutcome*)
{
    auto* seen = static_cast<Observed*>(context);
    seen->outcomes.push_back(
        FileOutcome{code, message, seen->os->open_paths(), seen->os->live_blocks()});
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
    bool report_exists = false;
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
        root_ = std::make_unique<m2q_test::TempFolder>();
        sources_ = root_->path() / "saves";
        run_dir_ = root_->path() / "run";
        fs::create_directories(sources_);
        fs::create_directories(run_dir_);

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
                ASSERT_TRUE(sample_write_file(file.save, m2q_test::narrow(sources_ / file.name).c_str()));
            }
            paths_.push_back(m2q_test::narrow(sources_ / file.name));
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
        EXPECT_TRUE(m2q_test::write_file(m2q_test::narrow(run_dir_ / "report.txt"), OLD_REPORT));
        EXPECT_TRUE(m2q_test::write_file(m2q_test::narrow(sources_ / OLD_SAVE_NAME), OLD_SAVE));
        RunResult result;
        std::vector<const char*> paths;
        for (const std::string& path : paths_) {
            paths.push_back(path.c_str());
        }
        {
            m2q_test::FaultyPlatform os;
            if (fault != nullptr) {
                os.add_fault(*fault);
            }
            Observed seen{&os, {}, {}};
            process_dropped_files(paths.data(), paths.size(), m2q_test::narrow(run_dir_).c_str(),
                                  observe, &seen, &result.summary);
            result.outcomes = seen.outcomes;
            result.problems = os.misuses();
            result.calls = attribute(os.trace(), seen.file_ends, &result.problems);
            result.live_blocks = os.live_blocks();
            result.open_files = os.open_files();
            result.faults = os.faults_applied();
        }
        result.report_exists = fs::exists(run_dir_ / "report.txt");
        if (result.report_exists) {
            result.report = m2q_test::read_text(m2q_test::narrow(run_dir_ / "report.txt"));
        }
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
            EXPECT_TRUE(m2q_test::read_text(m2q_test::narrow(sources_ / OLD_SAVE_NAME)) == OLD_SAVE)
                << where << ": the old save was damaged";
        }
        std::set<std::string> present;
        for (const auto& entry : fs::directory_iterator(sources_)) {
            present.insert(entry.path().filename().string());
        }
        EXPECT_EQ(present, expected) << where;

        for (const auto& output : outputs) {
            const fs::path path = sources_ / output.first;
            if (!fs::exists(path)) {
                continue;  // already reported above
            }
            const std::string bytes = m2q_test::read_text(m2q_test::narrow(path));
            EXPECT_EQ(bytes.size(), TARGET_SIZE) << where << ": " << output.first;
            EXPECT_TRUE(bytes == reference_outputs_[output.second])
                << where << ": " << output.first << " differs from the reference output";
        }
        for (const std::string& name : present) {
            if (name.rfind("gamedata_", 0) == 0) {
                fs::remove(sources_ / name);
            }
        }
    }

    std::unique_ptr<m2q_test::TempFolder> root_;
    fs::path sources_, run_dir_;
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
        if (call.file >= 1 && call.file <= files && call.role != Role::ReportClose) {
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
void expect_nothing_held(const RunResult& result, bool report_open, bool table_held = true)
{
    EXPECT_EQ(result.problems, std::vector<std::string>{});
    EXPECT_EQ(result.live_blocks, 0u) << "blocks leaked";
    EXPECT_EQ(result.open_files, 0u) << "files left open";
    for (std::size_t i = 0; i < result.outcomes.size(); ++i) {
        const std::vector<std::string>& open = result.outcomes[i].open_paths;
        EXPECT_EQ(open.size(), report_open ? 1u : 0u) << "after file " << i + 1;
        EXPECT_TRUE(std::all_of(open.begin(), open.end(), names_report)) << "after file " << i + 1;
        EXPECT_EQ(result.outcomes[i].live_blocks, table_held ? 1u : 0u) << "after file " << i + 1;
    }
}

TEST_F(FaultMatrix, EveryFailurePointOfABatch)
{
    // The reference run: nothing fails.
    const RunResult reference = run(nullptr);
    expect_nothing_held(reference, true);
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
            reference_outputs_[i] = m2q_test::read_text(m2q_test::narrow(sources_ / name));
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
    std::map<Role, int> points_by_role;
    int points = 0;
    const auto failure_calls = std::count_if(reference.calls.begin(), reference.calls.end(),
                                             [](const Call& call) { return call.role != Role::Other; });
    for (std::size_t at = 0; at < reference.calls.size(); ++at) {
        const Call& call = reference.calls[at];
        if (call.role == Role::Other) {
            continue;
        }
        std::vector<Mode> modes = {Mode::Fail};
        if (call.role == Role::SourceRead || call.role == Role::OutputWrite ||
            call.role == Role::ReportWrite) {
            modes.push_back(Mode::Short);
        }
        if (call.role == Role::NameLookup || call.role == Role::OutputReplace) {
            modes.push_back(Mode::Refuse);
        }
        for (const Mode mode : modes) {
            ++points;
            ++points_by_role[call.role];
            const std::string file = call.file < files_.size()
                                         ? "file " + std::to_string(call.file + 1)
                                         : std::string("the batch");
            const std::string where = "call " + std::to_string(at) + " (" +
                                      role_name(call.role) + " of " + file + ", " +
                                      mode_name(mode) + ")";
            SCOPED_TRACE(where);
            m2q_test::Fault fault = m2q_test::fault_on(call.kind, call.nth);
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
            switch (call.role) {
            case Role::BatchTable: codes.assign(files_.size(), ERR_SOURCE_MEMORY); break;
            case Role::SourceBlock: codes[hit] = ERR_SOURCE_MEMORY; break;
            case Role::SourceOpen:
            case Role::SourceSize: codes[hit] = ERR_NOT_SOURCE; break;
            case Role::SourceRead: codes[hit] = ERR_READ_SOURCE; break;
            case Role::NameLookup:
            case Role::OutputReplace:
                // A name that is taken, or refuses the replace, passes the
                // turn to the next number; a failure stops the file.
                if (mode == Mode::Refuse) {
                    numbered_output = true;
                } else {
                    codes[hit] = ERR_WRITE_TARGET;
                }
                break;
            case Role::OutputOwner:
            case Role::OutputOpen:
            case Role::OutputWrite:
            case Role::OutputFlush:
            case Role::OutputClose:
            case Role::OutputIdentity: codes[hit] = ERR_WRITE_TARGET; break;
            case Role::SourceList:   // that source goes unguarded; nothing shows
            case Role::SourceClose:  // a read-only close has nothing to lose
                break;
            case Role::ReportName:
            case Role::ReportCheck:
            case Role::ReportOpen:
            case Role::ReportWrite:
            case Role::ReportFlush:
            case Role::ReportClose:
            case Role::ReportReplace: report_complete = false; break;
            case Role::Other: break;
            }

            expect_nothing_held(result, call.role != Role::ReportName && call.role != Role::ReportOpen,
                                call.role != Role::BatchTable);
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
    for (int role = 0; role < static_cast<int>(Role::Other); ++role) {
        EXPECT_GT(points_by_role[static_cast<Role>(role)], 0) << role_name(static_cast<Role>(role));
    }
    std::printf("fault matrix: %d failure points over %d calls (%zu with frees and removes) "
                "of a %zu-file batch:",
                points, static_cast<int>(failure_calls), reference.calls.size(), files_.size());
    for (const auto& entry : points_by_role) {
        std::printf(" %s=%d", role_name(entry.first), entry.second);
    }
    std::printf("\n");
    RecordProperty("failure_points", points);
}

}  // namespace
