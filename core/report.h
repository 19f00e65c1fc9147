// report.txt: one record per file of a batch, written to a temporary file
// beside its name as the batch goes and put in place whole when it ends.
#ifndef MELNO2QUAZ_REPORT_H
#define MELNO2QUAZ_REPORT_H

#include <cstddef>
#include <cstdint>

#include "batch_files.h"
#include "platform.h"
#include "replacement.h"

// The report in the folder the batch was given. Its pieces go to a
// temporary file beside it as soon as they are composed; only when the
// batch ends does it take the name report.txt, whole, so a killed batch or
// one running at the same time never leaves a mixed or partial report. A
// report that cannot be written does not stop the batch, it only shows in
// the summary.
struct Report {
    const PlatformOps* os;  // the table the batch runs on
    bool open;
    Replacement out;
    char target[TEMP_PATH_SIZE];  // report.txt, or the file a link there leads to
};

// Begins the report in `folder` (null or empty: the current directory).
// report.txt is replaced where it is nothing or a regular file this user
// may write: a FIFO, a folder, a read-only file or a file of a Melno or a
// Quaz save's size is left alone, and the batch goes without a report
// (`open` stays false).
void report_open(const PlatformOps& os, Report* report, const char* folder);

// Writes one record: the counter line, the source path (in code page 932,
// control bytes as '?'), the message and, for a failed file, its code.
void report_record(Report* report, std::size_t index, std::size_t count, const char* path,
                   int32_t code, const char* message);

// Puts the report in place; false when it was not written whole. Where
// report.txt now leads to what report_open would leave alone, or to an
// output of this batch, nothing is written.
bool report_finish(Report* report, const BatchFiles* files);

#endif
