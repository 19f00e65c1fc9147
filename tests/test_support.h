// Helpers shared by the test groups: temporary folders, whole-file reads,
// text in code page 932, synthetic Melno images, and a platform table that
// counts and fails operations on demand.
#ifndef MELNO2QUAZ_TEST_SUPPORT_H
#define MELNO2QUAZ_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform.h"

namespace m2q_test {

using Bytes = std::vector<unsigned char>;

// ---------------------------------------------------------------------------
// Folders and files

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // `name` inside the folder, as the narrow byte path the core takes.
    std::string file(const std::string& name) const;
    // The folder as a narrow byte path with its trailing separator.
    std::string prefix() const;
    // Names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

// Makes `folder` the current directory and restores the previous one when
// the object goes (report.txt is written to the current directory).
class CurrentFolderGuard {
public:
    explicit CurrentFolderGuard(const std::filesystem::path& folder);
    ~CurrentFolderGuard();
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

private:
    std::filesystem::path previous_;
};

// The narrow byte path of `p` (what the core is given).
std::string narrow(const std::filesystem::path& p);
// A path from narrow bytes (raw on POSIX, the ANSI code page on Windows).
std::filesystem::path from_narrow(const std::string& bytes);

// The whole file; empty when it cannot be read.
Bytes read_file(const std::string& path);
std::string read_text(const std::string& path);
// Creates or replaces the file with exactly these bytes; false on failure.
bool write_file(const std::string& path, const void* data, std::size_t size);
bool write_file(const std::string& path, const Bytes& data);
bool write_file(const std::string& path, const std::string& data);
bool file_exists(const std::string& path);

// ---------------------------------------------------------------------------
// Text

// Converts between UTF-8 and code page 932 by the operating system's own
// tables (iconv, or the Win32 code page functions). Fails the calling test
// and returns an empty string when a character has no counterpart.
std::string utf8_to_cp932(const std::string& utf8);
std::string cp932_to_utf8(const std::string& cp932);
#ifndef _WIN32
// Converts between any two codesets iconv knows; fails the calling test on
// an error.
std::string iconv_convert(const std::string& in, const char* to, const char* from);
#endif

// The error text of a result code as a reader writes it (UTF-8), kept here
// apart from the core's own table. Fails the calling test and returns an
// empty string for a code without a text.
std::string error_text_utf8(std::int32_t code);
// The same text in code page 932, converted by the operating system.
std::string error_text_cp932(std::int32_t code);

// The summary of a converted save as report.txt holds it (code page 932),
// from its fields as a reader writes them: the city name (its bytes in the
// save, code page 932), the map number, the time ("001.Spring 1
// 13:07'09") and the funds ("1,234,567").
std::string expected_summary(const std::string& city, std::int32_t map, const std::string& time,
                             const std::string& funds);
// One record of report.txt: the counter and source lines (`path` as the
// report holds it), then `summary` for a converted file (CONVERT_OK) or
// the error text and code of a failed one. Every expected report of the
// tests is built here, so a change of the format is one edit.
std::string expected_record(std::size_t index, std::size_t count, const std::string& path,
                            std::int32_t code, const std::string& summary = "");

// Shows bytes as "41 42 0D 0A" (printable ASCII also as text) for messages.
std::string show_bytes(const std::string& bytes);

// ---------------------------------------------------------------------------
// Synthetic Melno images (SOURCE_SIZE bytes)

void put_le32(Bytes& image, std::size_t offset, std::uint32_t value);
void put_le64(Bytes& image, std::size_t offset, std::uint64_t value);
std::uint32_t get_le32(const Bytes& image, std::size_t offset);
std::uint64_t get_le64(const Bytes& image, std::size_t offset);

// Melno images in memory, made by the sample-save library (tools/).
// Every byte zero.
Bytes zero_source();
// Every byte a different-looking function of its offset
// (sample_pattern_byte), so that a byte carried to a wrong place or from a
// wrong place shows.
Bytes pattern_source();

// A zero image with the four summary fields set. `name` is at most 16
// bytes (code page 932), copied without a terminator when it is 16 long.
Bytes city_source(const std::string& name, std::int32_t map_number, std::int32_t clock,
                  std::int64_t funds);

// ---------------------------------------------------------------------------
// Fault-injecting platform

// The operations of PlatformOps, for counting and for choosing a fault.
enum class PlatformCall {
    alloc,
    free,
    open_read,
    file_size,
    read,
    create_temp,
    write,
    flush,
    close,
    remove,
    replace,
    look_up,
    lead_byte,
};
constexpr int PLATFORM_CALL_KINDS = 13;
const char* platform_call_name(PlatformCall call);

constexpr int FAULT_FOREVER = std::numeric_limits<int>::max();
constexpr std::uint32_t NO_SHORT = std::numeric_limits<std::uint32_t>::max();

// One planned fault. Calls of `call` that match the filters are counted from
// 1; the calls `first` ... `first + times - 1` of them are affected.
//   alloc        -> null, nothing allocated
//   open_read    -> NO_FILE, create_temp -> NO_FILE, nothing opened
//   file_size     -> 0
//   read, write  -> false with a count of 0, nothing moved; or, with
//                   `short_to` set, success after moving at most `short_to`
//                   bytes, the count telling how many
//   flush        -> false (a flush that does not fail succeeds without
//                   waiting for the disk)
//   close        -> the file is closed all the same, but false is returned
//   remove       -> false, nothing removed
//   replace      -> REPLACE_FAILED (REPLACE_REFUSED with `refuse`), nothing moved
//   look_up      -> false (with `refuse`: a read-only regular file is there)
struct Fault {
    PlatformCall call = PlatformCall::alloc;
    int first = 1;
    int times = 1;
    // Only calls on files whose path contains this (open_read, remove,
    // look_up: the path given; create_temp: the file it is to replace;
    // replace: the name replaced; file_size, read, write, flush, close: the
    // path the file was opened under, for a temporary file the file it is
    // to replace). Empty: every call.
    std::string path_part;
    // alloc only: only blocks of this size. 0: every size.
    std::size_t alloc_size = 0;
    std::uint32_t short_to = NO_SHORT;
    bool refuse = false;
};

// A fault on the `first`-th call of `call` (counted over every path).
Fault fault_on(PlatformCall call, int first = 1);

// One call as it reached the table, for tracing a run.
struct TraceEntry {
    PlatformCall call;
    std::string path;   // the file's path where there is one
    std::size_t size;   // alloc size, or bytes asked for by read and write
    bool failed;        // a planned fault was applied
    // Which opening of a file the call belongs to: open_read and
    // create_temp give each file they open a new number from 1 (0 when
    // nothing was opened); file_size, read, write and close carry the
    // number of the file they were handed (0 when it was not open). Two
    // openings of the same path are two files.
    int file = 0;
    std::uint32_t done = 0;  // read, write: the bytes the core was told moved
};

// Installs a counting, fault-injecting table over the native one for its
// lifetime and restores the native table afterwards. Only one may exist at
// a time (the table's functions have no context of their own).
class FaultyPlatform {
public:
    FaultyPlatform();
    ~FaultyPlatform();
    FaultyPlatform(const FaultyPlatform&) = delete;
    FaultyPlatform& operator=(const FaultyPlatform&) = delete;

    void add_fault(const Fault& fault);
    void clear_faults();
    // The lead-byte function the core sees (default: the native one).
    void set_lead_byte(bool (*is_lead_byte)(unsigned char));
    // Whether the core splits paths by Windows rules ('\\' and drives) or
    // by POSIX ones (only '/'); default: the native table's.
    void set_windows_paths(bool windows_paths);
    // Clears the counters and the trace (not the faults, not the live sets).
    void reset_counts();

    int calls(PlatformCall call) const;
    // Calls of `call` whose path contains `path_part`.
    int calls_on(PlatformCall call, const std::string& path_part) const;
    int faults_applied() const;
    const std::vector<TraceEntry>& trace() const;

    // Blocks from alloc not yet freed, and their bytes.
    std::size_t live_blocks() const;
    std::size_t live_bytes() const;
    // Files opened and not yet closed, and their paths.
    std::size_t open_files() const;
    std::vector<std::string> open_paths() const;
    // Uses by the core of what this table never handed out or already took
    // back: frees of unknown blocks, closes of files not open, file_size and
    // read on files not open for reading, write on files not open for
    // writing. None of them reaches the operating system (a second free or
    // close could hit a block or file reused meanwhile); each fails and is
    // described here. Should stay empty.
    const std::vector<std::string>& misuses() const;
};

}  // namespace m2q_test

#endif
