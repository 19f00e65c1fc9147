// melno2quaz conversion core: the two entries every front end calls.
//
// convert_file converts one Melno save into a Quaz save beside it;
// process_dropped_files runs a whole batch and records it in report.txt in
// a folder the caller names (the front ends: the current directory). Both
// reach the system only through the table `os` they are given (the front
// ends: platform_native(); the page: the in-memory table), and take
// NUL-terminated byte paths in its encoding: the locale's on POSIX, UTF-8 on
// Windows (the front ends convert the names Windows gives in UTF-16).
// Nothing here throws.
#ifndef MELNO2QUAZ_MELNO2QUAZ_H
#define MELNO2QUAZ_MELNO2QUAZ_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "city_summary.h"
#include "platform.h"

// Result codes of one file. Their texts are in result_codes.h.
enum : int32_t {
    CONVERT_OK = 0,         // converted; the target file was written in full
    ERR_WORK_MEMORY = 1,    // a working image could not be allocated (the image is
                            // built inside the source block, so not given now)
    ERR_NOT_SOURCE = 2,     // not a Melno save: wrong size, or cannot be opened
    ERR_SOURCE_MEMORY = 3,  // memory for the source image could not be allocated
    ERR_WRITE_TARGET = 4,   // the Quaz file could not be created or written in full
    ERR_READ_SOURCE = 5,    // the Melno file could not be read in full
    ERR_PATH_TOO_LONG = 6,  // the path is longer than the system's limit
    ERR_STOPPED = 7,        // not converted: the batch was stopped before this file
};

// Buffer sizes, terminator included (a path: PATH_SIZE, platform.h).
constexpr std::size_t MESSAGE_SIZE = 516;       // summary or error text
constexpr std::size_t REPORT_PIECE_SIZE = 1032; // one formatted piece of a record
// A composed output name: the source's folder and base name, the prefix,
// a number and the extension.
constexpr std::size_t OUTPUT_PATH_SIZE = PATH_SIZE + 32;

constexpr std::size_t REASON_SIZE = 256;         // the system's words for a failure

// What a front end may tell the user about one file beyond the report.
struct FileOutcome {
    // The Quaz save as written (a path beside the source); empty when none
    // was written.
    char output[OUTPUT_PATH_SIZE];
    // `output` is a numbered name because the plain one could not be used.
    bool numbered;
    // The system's words for the latest operation that failed on this file
    // ("No such file or directory"), in the system's encoding; empty when
    // no operation failed (a file of the wrong size, say).
    char reason[REASON_SIZE];
    // The city summary's fields of a converted file (the message is its
    // text, compose_summary gives it in pieces); zeros and empty texts
    // otherwise.
    CitySummary summary;
};

// Converts the file at `path`. `message` (MESSAGE_SIZE bytes) receives the
// city summary on success or the error text of the failing stage.
// `outcome`, when given, receives the output name, the reason and the
// summary's fields.
int32_t convert_file(const PlatformOps& os, const char* path, char* message,
                     FileOutcome* outcome = nullptr);

// What a batch did, for front ends that want to tell the user more than the
// report does. `report_written` is false when report.txt could not be
// created or a piece of it could not be written.
struct BatchSummary {
    std::size_t converted;
    std::size_t failed;  // code 7 included
    bool report_written;
    std::size_t stopped;  // of those failed, the files not taken (code 7)
};

// Called once per file, right after its record went to the report.
// `index` counts from 1. `message` is the same text the report holds;
// `outcome` what convert_file told besides.
using BatchObserver = void (*)(void* context, std::size_t index, std::size_t count,
                               const char* path, int32_t code, const char* message,
                               const FileOutcome* outcome);

// Called once per file, before it is looked at (`index` counts from 1).
using BatchStarting = void (*)(void* context, std::size_t index, std::size_t count,
                               const char* path);

// How a front end follows and stops a batch running on another thread or
// under signals. `stop` is read before each file: once it is true, that
// file and every later one are not touched and get ERR_STOPPED in the
// report and the observer; the file in hand is always finished first.
// Any member may be null.
struct BatchControl {
    BatchStarting starting;
    void* context;  // for `starting`
    const std::atomic<bool>* stop;
};

// Converts every path in order and writes report.txt in `report_folder`
// (null: the current directory). `observer`, `summary` and `control` may
// be null.
void process_dropped_files(const PlatformOps& os, const char* const* paths, std::size_t count,
                           const char* report_folder, BatchObserver observer = nullptr,
                           void* context = nullptr, BatchSummary* summary = nullptr,
                           const BatchControl* control = nullptr);

#endif
