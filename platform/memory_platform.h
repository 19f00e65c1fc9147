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

#include "cp932_encoder.h"
#include "platform.h"

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

// An open file: its full path and, for reading, how far it was read and
// whether the bytes of an outside file were brought in.
struct MemoryHandle {
    std::string path;
    bool in_use = false;
    std::size_t position = 0;
    bool fetched = false;
};

// The file system and its table: `ops` hands the core this record as its
// context, so every MemoryPlatform is a file system of its own.
struct MemoryPlatform {
    // Empty but for the current folder (C:\work, or /work).
    explicit MemoryPlatform(bool cp932 = false, bool windows_paths = true);
    ~MemoryPlatform();
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;

    // The table to hand the core.
    PlatformOps ops{};

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
    std::map<void*, std::size_t> block_sizes;  // the live blocks
    std::uint64_t next_index = 1;
    std::uint32_t temp_names = 0;  // temporary names made (temp_name_mix)
    Cp932Encoder encoder;          // paths in UTF-8 into code page 932

    // Handles by number less 100.
    std::vector<MemoryHandle> handles;
    // Blocks and file contents of earlier runs, kept for the next one: a
    // fresh 5 MB mapping for every block costs the fuzzers far more than
    // the conversion itself.
    std::vector<std::pair<std::size_t, void*>> spare_blocks;
    std::vector<std::vector<unsigned char>> spare_files;
};

// Empties `memory` (its files, folders, handles and settings) for another
// run, keeping its spare blocks; as new but for those.
void memory_platform_reset(MemoryPlatform& memory, bool cp932, bool windows_paths = true);

// The full path `path` names: from the root, one separator between names,
// "." and ".." resolved; empty for an empty path.
std::string memory_path(const MemoryPlatform& memory, const std::string& path);
// The file at `path`, made (with its folders) when there is none.
MemoryFile& memory_file(MemoryPlatform& memory, const std::string& path);
// The folder at `path`, with those above it.
void memory_add_folder(MemoryPlatform& memory, const std::string& path);
// The names in the folder at `path`, sorted.
std::vector<std::string> memory_entries(const MemoryPlatform& memory, const std::string& path);

#endif
