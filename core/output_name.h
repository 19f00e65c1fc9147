// Splitting paths by characters of the ANSI code page, and choosing the
// name of the output file beside the source.
#ifndef MELNO2QUAZ_OUTPUT_NAME_H
#define MELNO2QUAZ_OUTPUT_NAME_H

#include <cstddef>

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

// Splits at most the first 260 bytes of `path`. '/' separates folders;
// where the platform has Windows paths (PlatformOps::windows_paths) so does
// '\\', and "C:" at the start is a drive. Elsewhere both are plain bytes.
void split_path(const char* path, PathParts* parts);

// The name make_output_name tries first, composed without probing it.
// False, with `output` empty, when it does not fit OUTPUT_PATH_SIZE bytes.
bool plain_output_name(const char* source_path, const char* prefix, const char* extension,
                       char* output);

// Numbered names _1 ... _9999 are tried after the plain name.
constexpr int OUTPUT_NAME_MAX_NUMBER = 9999;

// Picks "<folder of source><prefix><base name>.<extension>", or the first
// numbered variant that can be created, probing each by creating it.
// Returns true with the name in `output` (OUTPUT_PATH_SIZE bytes); false
// when no candidate fits the buffer or can be created, with `output` empty.
bool make_output_name(const char* source_path, const char* prefix, const char* extension,
                      char* output);

#endif
