#include "report.h"

#include <cstdio>
#include <cstring>

#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "target_save.h"
#include "temp_name.h"

namespace {

const char REPORT_NAME[] = "report.txt";

// Whether the report may take the place of what `found` describes: what
// an output may replace (no Melno save among it), but no Quaz save either,
// nor an output this batch wrote. Any other file, report.txt given to the
// batch among the saves included, is replaced.
bool report_may_replace(const NameInfo& found, const BatchFiles* files)
{
    const OutputOwner owner{false, FileIdentity{}, nullptr};
    if (!name_usable(found, owner)) {
        return false;
    }
    if (found.kind != NAME_REGULAR) {
        return true;
    }
    if (found.size == TARGET_SIZE) {
        return false;
    }
    for (std::size_t i = 0; files != nullptr && i < files->count; ++i) {
        const BatchEntry& entry = files->entries[i];
        if (entry.output_known && same_file(entry.output, found.identity)) {
            return false;
        }
    }
    return true;
}

// Whether what report.txt leads to now may be replaced.
bool report_still_free(const Report& report, const BatchFiles* files)
{
    const PlatformOps& os = *report.os;
    NameInfo found;
    return os.look_up(os.context, report.target, &found) && report_may_replace(found, files);
}

void report_write(Report* report, const char* bytes, std::size_t length)
{
    if (report->open) {
        write_replacement(&report->out, bytes, length);
    }
}

void report_piece(Report* report, const char* piece, int length)
{
    if (length > 0) {
        report_write(report, piece, static_cast<std::size_t>(length));
    }
}

}  // namespace

// What report.txt leads to is looked at as the batch begins and again as
// it ends: a save may have taken the name meanwhile.
void report_open(const PlatformOps& os, Report* report, const char* folder)
{
    report->os = &os;
    report->open = false;
    char name[TEMP_PATH_SIZE];
    const bool separated = folder == nullptr || folder[0] == '\0' ||
                           folder_length(folder, os.windows_paths) == std::strlen(folder);
    const int length = std::snprintf(name, sizeof name, "%s%s%s", folder != nullptr ? folder : "",
                                     separated ? "" : "/", REPORT_NAME);
    NameInfo found;
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name || !os.path_fits(os.context,
        name) ||
        !os.look_up(os.context, name, &found) || !report_may_replace(found, nullptr)) {
        return;
    }
    std::memcpy(report->target, found.target, sizeof report->target);
    report->open = begin_replacement(os, report->target, nullptr, &report->out);
}

bool report_finish(Report* report, const BatchFiles* files)
{
    if (!report->open) {
        return false;
    }
    if (!report_still_free(*report, files)) {
        abandon_replacement(&report->out);
        return false;
    }
    return finish_replacement(&report->out, report->target, nullptr) == REPLACE_DONE;
}

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
        const std::size_t put = path_to_cp932(*report->os, &left_text, &left, piece, sizeof piece);
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
