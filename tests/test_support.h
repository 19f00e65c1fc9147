// Helpers shared by the test groups: temporary folders, whole-file reads
// and writes, text in code page 932 and the report's expected records, and
// synthetic Melno images. The tables that stand in for the system live in
// files of their own: the in-memory platform in memory_platform.h, the
// table that logs and fails calls in fault_platform.h.
#ifndef MELNO2QUAZ_TEST_SUPPORT_H
#define MELNO2QUAZ_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
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

}  // namespace m2q_test

#endif
