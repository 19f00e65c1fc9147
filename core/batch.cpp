#include <cstdint>
#include <cstdio>
#include <cstring>

#include "batch_files.h"
#include "melno2quaz.h"
#include "platform.h"
#include "report.h"
#include "result_codes.h"
#include "source_save.h"
#include "target_save.h"

namespace {

// True when the system's file calls take the path (never longer than
// PATH_SIZE bytes, read no further than its terminator).
bool path_fits(const PlatformOps& os, const char* path)
{
    return os.path_fits(os.context, path);
}

// One file, as convert_file describes it, of a batch (`files` may be null
// for a single file).
int32_t convert_one(const PlatformOps& os, const char* path, char* message, BatchFiles* files,
                    FileOutcome* outcome)
{
    if (!path_fits(os, path)) {
        set_result_text(ERR_PATH_TOO_LONG, message);
        return ERR_PATH_TOO_LONG;
    }
    SourceSave save;
    const int32_t loaded = load_source(os, path, &save, message);
    if (loaded != CONVERT_OK) {
        return loaded;
    }
    // On failure the error text replaces the summary.
    const int32_t code = write_target(os, build_target(&save), path, files, outcome);
    if (code != CONVERT_OK) {
        set_result_text(code, message);
    } else if (outcome != nullptr) {
        outcome->summary = save.summary;
    }
    release_source(os, &save);
    return code;
}

// The batch's table of its files, with the identity of every source that
// exists now. Null when no memory can be had for it.
BatchEntry* list_sources(const PlatformOps& os, const char* const* paths, std::size_t count)
{
    if (count == 0 || count > SIZE_MAX / sizeof(BatchEntry)) {
        return nullptr;
    }
    auto* entries = static_cast<BatchEntry*>(os.alloc_block(os.context, count * sizeof(BatchEntry)));
    if (entries == nullptr) {
        return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = BatchEntry{};
        NameInfo found;
        if (path_fits(os, paths[i]) && os.look_up(os.context, paths[i], &found) &&
            found.kind == NAME_REGULAR) {
            entries[i].source_known = true;
            entries[i].source = found.identity;
        }
    }
    return entries;
}

// One file of a batch, with what a front end may tell besides.
int32_t convert_in_batch(const PlatformOps& os, const char* path, char* message, BatchFiles* files,
                         FileOutcome* outcome)
{
    if (outcome == nullptr) {
        return convert_one(os, path, message, files, nullptr);
    }
    *outcome = FileOutcome{};
    os.take_error_text(os.context, nullptr, 0);  // a failure before this file is not its own
    const int32_t code = convert_one(os, path, message, files, outcome);
    if (outcome->reason[0] == '\0') {
        os.take_error_text(os.context, outcome->reason, sizeof outcome->reason);
    } else {
        os.take_error_text(os.context, nullptr, 0);
    }
    return code;
}

// Whether the front end asked the batch to stop; read between files only.
bool stop_asked(const BatchControl* control)
{
    return control != nullptr && control->stop != nullptr && control->stop->load();
}

}  // namespace

int32_t convert_file(const PlatformOps& os, const char* path, char* message, FileOutcome* outcome)
{
    return convert_in_batch(os, path, message, nullptr, outcome);
}

void process_dropped_files(const PlatformOps& os, const char* const* paths, std::size_t count,
                           const char* report_folder, BatchObserver observer, void* context,
                           BatchSummary* summary, const BatchControl* control)
{
    // Without its table the batch could not keep its outputs off its own
    // sources, so no file is converted then.
    BatchFiles files{list_sources(os, paths, count), 0, 0, nullptr};
    files.count = files.entries != nullptr ? count : 0;
    Report report{};
    report_open(os, &report, report_folder);
    files.report_target = report.open ? report.target : nullptr;

    BatchSummary totals{0, 0, false, 0};
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
            code = convert_in_batch(os, paths[i], message, &files, &outcome);
        } else {
            outcome = FileOutcome{};
            set_result_text(code, message);
        }
        report_record(&report, i + 1, count, paths[i], code, message);
        ++(code == CONVERT_OK ? totals.converted : totals.failed);
        totals.stopped += code == ERR_STOPPED ? 1 : 0;
        if (observer != nullptr) {
            observer(context, i + 1, count, paths[i], code, message, &outcome);
        }
    }

    totals.report_written = report_finish(&report, &files);
    os.free_block(os.context, files.entries);
    if (summary != nullptr) {
        *summary = totals;
    }
}
