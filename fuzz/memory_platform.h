// A file system in memory behind the platform seam, for the fuzz targets:
// no disk traffic, every block and handle counted, and creating files can
// be made to fail a chosen number of times.
#ifndef MELNO2QUAZ_MEMORY_PLATFORM_H
#define MELNO2QUAZ_MEMORY_PLATFORM_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

struct MemoryPlatform {
    std::map<std::string, std::vector<unsigned char>> files;
    bool cp932 = false;        // split paths by Shift-JIS characters
    long failing_creates = 0;  // create_write calls that fail first; -1: all
    std::size_t creates = 0;   // create_write calls so far
    std::size_t live_blocks = 0;
    std::map<void*, std::size_t> block_sizes;  // the live blocks
    std::size_t open_files = 0;
};

// Empties the state and installs the in-memory table.
MemoryPlatform& memory_platform_begin(bool cp932);
// Restores the native table.
void memory_platform_end();

#endif
