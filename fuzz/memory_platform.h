// A file system in memory behind the platform seam, for the fuzz targets:
// no disk traffic, every block and handle counted, and a chosen number of
// names can be made to look taken.
#ifndef MELNO2QUAZ_MEMORY_PLATFORM_H
#define MELNO2QUAZ_MEMORY_PLATFORM_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

struct MemoryPlatform {
    std::map<std::string, std::vector<unsigned char>> files;
    bool cp932 = false;        // split paths by Shift-JIS characters
    long taken_names = 0;      // names looked up first that are taken; -1: all
    std::size_t lookups = 0;   // names looked up so far
    std::size_t temps = 0;     // temporary files made so far
    std::size_t live_blocks = 0;
    std::map<void*, std::size_t> block_sizes;  // the live blocks
    std::size_t open_files = 0;
};

// Empties the state and installs the in-memory table.
MemoryPlatform& memory_platform_begin(bool cp932);
// Restores the native table.
void memory_platform_end();

#endif
