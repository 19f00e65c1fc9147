// A file system in memory behind the platform seam: files and folders under
// full paths, a current folder, no disk traffic, every block and handle
// counted. The web page converts on it (its files are the ones the user
// chose, read only when the core opens them); the unit tests and the fuzz
// targets run the core on it. Paths follow the rules of the system it
// stands in for (Windows or POSIX separators, Shift-JIS lead bytes, or
// UTF-8 names turned into code page 932 for the report), so the core cannot
// tell it from a disk.
#ifndef MELNO2QUAZ_MEMORY_PLATFORM_H
#define MELNO2QUAZ_MEMORY_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// `MemoryFile::outside` of a file whose bytes went elsewhere for good (an
// output the page took): its name stays taken, it cannot be read.
constexpr long OUTSIDE_GONE = -2;

struct MemoryFile {
    std::vector<unsigned char> bytes;
    bool read_only = false;
    std::uint64_t index = 0;  // its identity; a replace carries it along
    // -1: the bytes are here. From 0 on: the bytes live outside (the page's
    // number for a chosen file); MemoryPlatform::outside_size tells their
    // size, MemoryPlatform::fetch brings them in at the first read, and
    // they are dropped when the file is closed.
    long outside = -1;
};

struct MemoryPlatform {
    bool windows_paths = true;  // '\\' and "C:" as on Windows; else only '/'
    bool cp932 = false;         // paths are Shift-JIS: their lead bytes count
    // Paths are UTF-8 (the page's file names): converted to code page 932
    // character by character, '?' for what has no form there.
    bool utf8 = false;
    // The size of the outside file numbered `outside`.
    std::uint64_t (*outside_size)(long outside) = nullptr;
    // Puts the bytes of that file into `bytes`; false when they cannot be
    // had (the read fails).
    bool (*fetch)(long outside, std::vector<unsigned char>* bytes) = nullptr;
    // Full paths (see memory_path) to what they hold.
    std::map<std::string, MemoryFile> files;
    std::map<std::string, std::uint64_t> folders;  // with their identity
    std::string current_folder;  // where relative paths start
    long taken_names = 0;        // names looked up first that are taken; -1: all
    std::size_t lookups = 0;     // names looked up so far
    std::size_t live_blocks = 0;
    std::map<void*, std::size_t> block_sizes;  // the live blocks
    std::size_t open_files = 0;
    std::uint64_t next_index = 1;
};

// Empties the state, makes the current folder (C:\work, or /work) and
// installs the in-memory table.
MemoryPlatform& memory_platform_begin(bool cp932, bool windows_paths = true);
// Restores the native table.
void memory_platform_end();

// The full path `path` names: from the root, one separator between names,
// "." and ".." resolved; empty for an empty path.
std::string memory_path(const std::string& path);
// The file at `path`, made (with its folders) when there is none.
MemoryFile& memory_file(const std::string& path);
// The folder at `path`, with those above it.
void memory_add_folder(const std::string& path);
// The names in the folder at `path`, sorted.
std::vector<std::string> memory_entries(const std::string& path);

// The in-memory platform for the lifetime of a test's scope.
class MemoryPlatformScope {
public:
    explicit MemoryPlatformScope(bool cp932 = false, bool windows_paths = true)
        : state(memory_platform_begin(cp932, windows_paths)) {}
    ~MemoryPlatformScope() { memory_platform_end(); }
    MemoryPlatformScope(const MemoryPlatformScope&) = delete;
    MemoryPlatformScope& operator=(const MemoryPlatformScope&) = delete;

    MemoryPlatform& state;
};

#endif
