#include <cstdio>
#include <cstring>

#include "melno2quaz.h"
#include "platform.h"
#include "result_codes.h"
#include "source_save.h"
#include "target_save.h"

namespace {

const char REPORT_NAME[] = "report.txt";

// The report in the current directory. Every piece goes to the file as
// soon as it is composed; a report that cannot be created or written does
// not stop the batch, it only shows in `ok`.
struct Report {
    PlatformFile file;
    bool ok;
};

void report_write(Report* report, const char* bytes, std::size_t length)
{
    if (report->file == NO_FILE || length == 0) {
        return;
    }
    std::uint32_t done = 0;
    if (!platform().write(report->file, bytes, static_cast<std::uint32_t>(length), &done) ||
        done != length) {
        report->ok = false;
    }
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
    // the rest of the report.
    const PlatformOps& os = platform();
    const char* left_text = path;
    std::size_t left = std::strlen(path);
    while (left > 0) {
        const std::size_t put = os.path_to_cp932(&left_text, &left, piece, sizeof piece);
        if (put == 0) {
            break;  // cannot happen with a piece of this size; never loop forever
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

// One file, as convert_file describes it.
int32_t convert_one(const char* path, char* message, FileOutcome* outcome)
{
    if (std::memchr(path, '\0', PATH_SIZE) == nullptr) {
        set_result_text(ERR_PATH_TOO_LONG, message);
        return ERR_PATH_TOO_LONG;
    }
    SourceSave save;
    const int32_t loaded = load_source(path, &save, message);
    if (loaded != CONVERT_OK) {
        return loaded;
    }
    const int32_t code = build_target(path, &save, message, outcome);
    release_source(&save);
    return code;
}

}  // namespace

int32_t convert_file(const char* path, char* message, FileOutcome* outcome)
{
    if (outcome == nullptr) {
        return convert_one(path, message, nullptr);
    }
    const PlatformOps& os = platform();
    *outcome = FileOutcome{};
    os.take_error_text(nullptr, 0);  // a failure before this file is not its own
    const int32_t code = convert_one(path, message, outcome);
    os.take_error_text(outcome->reason, sizeof outcome->reason);
    return code;
}

void process_dropped_files(const char* const* paths, std::size_t count, BatchObserver observer,
                           void* context, BatchSummary* summary)
{
    const PlatformOps& os = platform();
    const PlatformFile report_file = os.create_write(REPORT_NAME);
    Report report{report_file, report_file != NO_FILE};

    BatchSummary totals{0, 0, false};
    char message[MESSAGE_SIZE];
    FileOutcome outcome;
    for (std::size_t i = 0; i < count; ++i) {
        message[0] = '\0';
        const int32_t code = convert_file(paths[i], message, &outcome);
        report_record(&report, i + 1, count, paths[i], code, message);
        ++(code == CONVERT_OK ? totals.converted : totals.failed);
        if (observer != nullptr) {
            observer(context, i + 1, count, paths[i], code, message, &outcome);
        }
    }

    if (report.file != NO_FILE && !os.close(report.file)) {
        report.ok = false;
    }
    totals.report_written = report.ok;
    if (summary != nullptr) {
        *summary = totals;
    }
}
