// Splitting paths by characters of the ANSI code page, and choosing the
// name of the output file beside the source.
#ifndef MELNO2QUAZ_OUTPUT_NAME_H
#define MELNO2QUAZ_OUTPUT_NAME_H

#include <cstddef>

#include "batch_files.h"
#include "platform.h"

constexpr std::size_t DRIVE_SIZE = 3;       // "C:" and terminator
constexpr std::size_t PATH_PART_SIZE = 256; // 255 bytes and terminator

struct PathParts {
    char drive[DRIVE_SIZE];
    char directory[PATH_PART_SIZE];  // keeps its trailing separator
    char base_name[PATH_PART_SIZE];
    char extension[PATH_PART_SIZE];  // with its dot
    bool cut;  // a part was longer than 255 bytes and was shortened
    bool name_cut;  // the directory or the base name was shortened
};

// Splits at most the first 260 bytes of `path`.
void split_path(const char* path, PathParts* parts);

// Numbered names _1 ... _9999 are tried after the plain name.
constexpr int OUTPUT_NAME_MAX_NUMBER = 9999;

// Whose output is being named: the source file, and the batch it belongs
// to (null for a single file).
struct OutputOwner {
    bool source_known;
    FileIdentity source;
    const BatchFiles* batch;
};

// Tells the owner of the source at `path`; false when the name cannot be
// looked up.
bool output_owner(const char* source_path, const BatchFiles* batch, OutputOwner* owner);

// True when an output may replace what `found` describes: nothing, or a
// regular file this user may write that is neither a file the batch reads
// nor an output the batch wrote for another source.
bool name_usable(const NameInfo& found, const OutputOwner& owner);

enum NameSearch : int {
    NAME_FOUND = 0,
    NAME_NONE = 1,    // every candidate was taken, or none fits the buffer
    NAME_FAILED = 2,  // a candidate could not be looked up: nothing in that
                      // folder can be
};

// Looks for the first usable name of the source at `source_path`, from
// number `*number` on (0: "<folder of source><prefix><base name>.<extension>";
// k: the same with "_k" before the dot), without creating anything. On
// NAME_FOUND, `output` (OUTPUT_PATH_SIZE bytes) holds the name, `*number`
// its number and `found` what the name leads to; otherwise `output` is empty.
NameSearch find_output_name(const char* source_path, const char* prefix, const char* extension,
                            const OutputOwner& owner, int* number, char* output, NameInfo* found);

// The first usable name for a single file (no batch), from number 0.
bool make_output_name(const char* source_path, const char* prefix, const char* extension,
                      char* output);

#endif
