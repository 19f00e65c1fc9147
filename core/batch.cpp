#include <cstdint>
#include <cstdio>
#include <cstring>

#include "batch_files.h"
#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "platform.h"
#include "replacement.h"
#include "result_codes.h"
#include "source_save.h"
#include "target_save.h"
#include "temp_name.h"

namespace {

const char REPORT_NAME[] = "report.txt";

// The report in the folder the batch was given. Its pieces go to a temporary file
// beside it as soon as they are composed; only when the batch ends does it
// take the name report.txt, whole, so a killed batch or one running at the
// same time never leaves a mixed or partial report. A report that cannot
// be written does not stop the batch, it only shows in the summary.
struct Report {
    bool open;
    Replacement out;
    char target[TEMP_PATH_SIZE];  // report.txt, or the file a link there leads to
};

// report.txt is replaced where it is nothing or a regular file this user
// may write: a FIFO, a folder or a read-only report is left alone, and the
// batch goes without a report. A report.txt given to the batch is a file
// like any other; whether the report may replace it is told at the end.
void report_open(Report* report, const char* folder)
{
    report->open = false;
    char name[TEMP_PATH_SIZE];
    const bool separated = folder == nullptr || folder[0] == '\0' ||
                           folder_length(folder, platform().windows_paths) == std::strlen(folder);
    const int length = std::snprintf(name, sizeof name, "%s%s%s", folder != nullptr ? folder : "",
                                     separated ? "" : "/", REPORT_NAME);
    NameInfo found;
    const OutputOwner owner{false, FileIdentity{}, nullptr};
    const PurposeScope looking(PURPOSE_REPORT_NAME);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name || !platform().path_fits(name) ||
        !platform().look_up(name, &found) || !name_usable(found, owner)) {
        return;
    }
    std::memcpy(report->target, found.target, sizeof report->target);
    const PurposeScope writing(PURPOSE_REPORT);
    report->open = begin_replacement(report->target, &report->out);
}

// A file the batch converted, or wrote, is never replaced by the report:
// the report would take the place of a save.
bool report_would_take_a_save(const Report& report, const BatchFiles* files)
{
    const PurposeScope checking(PURPOSE_REPORT_CHECK);
    NameInfo found;
    if (!platform().look_up(report.target, &found)) {
        return true;  // not known to be safe
    }
    if (found.kind != NAME_REGULAR) {
        return false;
    }
    for (std::size_t i = 0; i < files->count; ++i) {
        const BatchEntry& entry = files->entries[i];
        if (entry.output_known && ((entry.source_known && same_file(entry.source, found.identity)) ||
                                   same_file(entry.output, found.identity))) {
            return true;
        }
    }
    return false;
}

void report_write(Report* report, const char* bytes, std::size_t length)
{
    if (report->open) {
        const PurposeScope writing(PURPOSE_REPORT);
        write_replacement(&report->out, bytes, length);
    }
}

bool report_finish(Report* report, const BatchFiles* files)
{
    if (!report->open) {
        return false;
    }
    const bool takes_a_save = report_would_take_a_save(*report, files);
    const PurposeScope writing(PURPOSE_REPORT);
    if (takes_a_save) {
        abandon_replacement(&report->out);
        return false;
    }
    return finish_replacement(&report->out, report->target, nullptr) == REPLACE_DONE;
}

void report_piece(Report* report, const char* piece, int length)
{
    if (length > 0) {
        report_write(report, piece, static_cast<std::size_t>(length));
    }
}

// One record: the counter line, the source path, the message and, for a
// failed file, its code.
void report_record(Report* report, std::size_t index, std::size_t count, const char* path,
                   int32_t code, const char* message)
{
    char piece[REPORT_PIECE_SIZE];
    // %04d/%04d\r\n  変換元:
    int length = std::snprintf(piece, sizeof piece, "%04zu/%04zu\r\n  \x95\xCF\x8A\xB7\x8C\xB3:",
                               index, count);
    report_piece(report, piece, length);
    // The path goes out whole, whatever its length, in code page 932 like
    // the rest of the report. Its control bytes show as '?', so that a line
    // end in a name cannot forge a record; no byte of a double-byte
    // character is below 0x20 or 0x7F, so none is cut.
    const char* left_text = path;
    std::size_t left = std::strlen(path);
    while (left > 0) {
        const std::size_t put = path_to_cp932(&left_text, &left, piece, sizeof piece);
        if (put == 0) {
            break;  // cannot happen with a piece of this size; never loop forever
        }
        for (std::size_t i = 0; i < put; ++i) {
            const auto byte = static_cast<unsigned char>(piece[i]);
            if (byte < 0x20 || byte == 0x7F) {
                piece[i] = '?';
            }
        }
        report_write(report, piece, put);
    }
    report_write(report, "\r\n", 2);

    if (code != CONVERT_OK) {
        length = std::snprintf(piece, sizeof piece, "  %s  (Err:%d)\r\n\r\n", message,
                               static_cast<int>(code));
    } else {
        length = std::snprintf(piece, sizeof piece, "  %s\r\n", message);
    }
    report_piece(report, piece, length);
}

// True when the system's file calls take the path (never longer than
// PATH_SIZE bytes, read no further than its terminator).
bool path_fits(const char* path)
{
    return platform().path_fits(path);
}

// One file, as convert_file describes it, of a batch (`files` may be null
// for a single file).
int32_t convert_one(const char* path, char* message, BatchFiles* files, FileOutcome* outcome)
{
    if (!path_fits(path)) {
        set_result_text(ERR_PATH_TOO_LONG, message);
        return ERR_PATH_TOO_LONG;
    }
    SourceSave save;
    const int32_t loaded = load_source(path, &save, message);
    if (loaded != CONVERT_OK) {
        return loaded;
    }
    const int32_t code = build_target(path, &save, message, files, outcome);
    release_source(&save);
    return code;
}

// The batch's table of its files, with the identity of every source that
// exists now. Null when no memory can be had for it.
BatchEntry* list_sources(const char* const* paths, std::size_t count)
{
    const PlatformOps& os = platform();
    if (count == 0 || count > SIZE_MAX / sizeof(BatchEntry)) {
        return nullptr;
    }
    auto* entries = [&] {
        const PurposeScope table(PURPOSE_BATCH_TABLE);
        return static_cast<BatchEntry*>(os.alloc_block(count * sizeof(BatchEntry)));
    }();
    if (entries == nullptr) {
        return nullptr;
    }
    const PurposeScope listing(PURPOSE_SOURCE_LIST);
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = BatchEntry{};
        NameInfo found;
        if (path_fits(paths[i]) && os.look_up(paths[i], &found) &&
            found.kind == NAME_REGULAR) {
            entries[i].source_known = true;
            entries[i].source = found.identity;
        }
    }
    return entries;
}

// One file of a batch, with what a front end may tell besides.
int32_t convert_in_batch(const char* path, char* message, BatchFiles* files, FileOutcome* outcome)
{
    if (outcome == nullptr) {
        return convert_one(path, message, files, nullptr);
    }
    const PlatformOps& os = platform();
    *outcome = FileOutcome{};
    os.take_error_text(nullptr, 0);  // a failure before this file is not its own
    const int32_t code = convert_one(path, message, files, outcome);
    if (outcome->reason[0] == '\0') {
        os.take_error_text(outcome->reason, sizeof outcome->reason);
    } else {
        os.take_error_text(nullptr, 0);
    }
    return code;
}

// Whether the front end asked the batch to stop; read between files only.
bool stop_asked(const BatchControl* control)
{
    return control != nullptr && control->stop != nullptr && control->stop->load();
}

}  // namespace

int32_t convert_file(const char* path, char* message, FileOutcome* outcome)
{
    return convert_in_batch(path, message, nullptr, outcome);
}

void process_dropped_files(const char* const* paths, std::size_t count, const char* report_folder,
                           BatchObserver observer, void* context, BatchSummary* summary,
                           const BatchControl* control)
{
    // Without its table the batch could not keep its outputs off its own
    // sources, so no file is converted then.
    BatchFiles files{list_sources(paths, count), 0, 0, nullptr};
    files.count = files.entries != nullptr ? count : 0;
    Report report{};
    report_open(&report, report_folder);
    files.report_target = report.open ? report.target : nullptr;

    BatchSummary totals{0, 0, false};
    char message[MESSAGE_SIZE];
    FileOutcome outcome;
    bool stopped = false;
    for (std::size_t i = 0; i < count; ++i) {
        message[0] = '\0';
        int32_t code = ERR_SOURCE_MEMORY;
        stopped = stopped || stop_asked(control);
        if (!stopped && control != nullptr && control->starting != nullptr) {
            control->starting(control->context, i + 1, count, paths[i]);
        }
        if (stopped) {
            code = ERR_STOPPED;
            outcome = FileOutcome{};
            set_result_text(code, message);
        } else if (files.entries != nullptr) {
            files.current = i;
            code = convert_in_batch(paths[i], message, &files, &outcome);
        } else {
            outcome = FileOutcome{};
            set_result_text(code, message);
        }
        report_record(&report, i + 1, count, paths[i], code, message);
        ++(code == CONVERT_OK ? totals.converted : totals.failed);
        if (observer != nullptr) {
            observer(context, i + 1, count, paths[i], code, message, &outcome);
        }
    }

    totals.report_written = report_finish(&report, &files);
    const PurposeScope table(PURPOSE_BATCH_TABLE);
    platform().free_block(files.entries);
    if (summary != nullptr) {
        *summary = totals;
    }
}
