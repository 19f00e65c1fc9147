// Splitting paths by characters of the ANSI code page, and choosing the
// name of the output file beside the source.
#ifndef MELNO2QUAZ_OUTPUT_NAME_H
#define MELNO2QUAZ_OUTPUT_NAME_H

#include <cstddef>

#include "batch_files.h"
#include "melno2quaz.h"
#include "platform.h"

// Bytes of a path split_path looks at: any path the core takes.
constexpr std::size_t SPLIT_LIMIT = PATH_SIZE;
constexpr std::size_t DRIVE_SIZE = 3;                    // "C:" and terminator
// A part with its terminator: any folder or name of a path the system's
// calls take (a folder of 258 UTF-16 units, each 3 bytes of UTF-8, is 772).
constexpr std::size_t PATH_PART_SIZE = SPLIT_LIMIT - 4;

struct PathParts {
    char drive[DRIVE_SIZE];
    char directory[PATH_PART_SIZE];  // keeps its trailing separator
    char base_name[PATH_PART_SIZE];
    char extension[PATH_PART_SIZE];  // with its dot
    bool cut;  // a part was longer than PATH_PART_SIZE - 1 bytes and was shortened
    bool name_cut;  // the directory or the base name was shortened
};

// Splits at most the first SPLIT_LIMIT bytes of `path`. '/' separates folders;
// where the platform has Windows paths (PlatformOps::windows_paths) so does
// '\\', and "C:" at the start is a drive. Elsewhere both are plain bytes.
void split_path(const PlatformOps& os, const char* path, PathParts* parts);

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
bool output_owner(const PlatformOps& os, const char* source_path, const BatchFiles* batch,
                  OutputOwner* owner);

// Why a name is passed over, if it is.
enum NameUse : int {
    NAME_USABLE = 0,
    NAME_IS_FOLDER,
    NAME_IS_SPECIAL,    // a FIFO, a device, a socket, a link that goes nowhere
    NAME_IS_READ_ONLY,
    NAME_IS_SOURCE,     // the source itself, or a link to it
    NAME_IS_IN_BATCH,   // a file the batch reads
    NAME_IS_OTHER_OUTPUT,  // what the batch wrote for another source
    NAME_IS_HELD,       // the system refused to replace it (held open)
    NAME_IS_REPORT,     // report.txt leads there
    NAME_LEADS_NOWHERE, // a link into a folder where no file can be made
    NAME_IS_MELNO_SAVE, // a file of a Melno save's size, wherever it is
};

// Whether an output (or the report) may replace what `found` describes:
// nothing, or a regular file this user may write that is no Melno save by
// its size, neither a file the batch reads nor an output the batch wrote
// for another source.
NameUse name_use(const NameInfo& found, const OutputOwner& owner);
inline bool name_usable(const NameInfo& found, const OutputOwner& owner)
{
    return name_use(found, owner) == NAME_USABLE;
}

// A few English words on why a name was passed over ("it is a folder").
const char* name_use_text(NameUse use);

enum NameSearch : int {
    NAME_FOUND = 0,
    NAME_NONE = 1,      // every candidate up to OUTPUT_NAME_MAX_NUMBER was taken
    NAME_FAILED = 2,    // a candidate could not be looked up: nothing in that
                        // folder can be
    NAME_TOO_LONG = 3,  // the next candidate is longer than the system's calls
                        // take (numbered names only grow longer)
};

// A few English words on why no name was found ("" for NAME_FAILED, where
// the system tells why).
const char* name_search_text(NameSearch search);

// Looks for the first usable name of the source at `source_path`, from
// number `*number` on (with `passed_over`, it gets why the first candidate
// looked at was not usable, NAME_USABLE when it was) (0: "<folder of source><prefix><base name>.<extension>";
// k: the same with "_k" before the dot), without creating anything. On
// NAME_FOUND, `output` (OUTPUT_PATH_SIZE bytes) holds the name, `*number`
// its number and `found` what the name leads to; otherwise `output` is empty.
NameSearch find_output_name(const PlatformOps& os, const char* source_path, const char* prefix,
                            const char* extension,
                            const OutputOwner& owner, int* number, char* output, NameInfo* found,
                            NameUse* passed_over = nullptr);

// The first usable name for a single file (no batch), from number 0.
bool make_output_name(const PlatformOps& os, const char* source_path, const char* prefix,
                      const char* extension,
                      char* output);

#endif
