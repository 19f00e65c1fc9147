// Replacing a file without ever damaging it: the new content goes to a
// temporary file beside the target, is made durable and only then takes the
// target's name in one step. Whatever fails, or wherever the process is
// killed, the target holds its old bytes or the complete new ones. Where
// the system can, the temporary file has no name (or is the system's to
// remove) until it is whole, so a kill leaves at most a whole temporary
// file, and only between its naming and the replace; elsewhere any kill
// may leave one (named with TEMP_NAME_MARK).
#ifndef MELNO2QUAZ_REPLACEMENT_H
#define MELNO2QUAZ_REPLACEMENT_H

#include "platform.h"

struct Replacement {
    const PlatformOps* os;      // the table it was begun on
    PlatformFile file;          // NO_FILE when it could not be begun
    char temp[TEMP_PATH_SIZE];  // the temporary name
    bool ok;                    // every byte so far was written
};

// Begins a replacement of `target`; false when its folder cannot take a
// new file. `like` (may be null) is the file whose permissions a new file
// takes where `target` is none yet (PlatformOps::create_temp).
bool begin_replacement(const PlatformOps& os, const char* target, const char* like,
                       Replacement* replacement);

// Writes the next bytes; a failure shows in `ok` and ends in
// REPLACE_FAILED at the finish.
void write_replacement(Replacement* replacement, const void* data, std::size_t size);

// Makes the new content durable and puts it in place of `target`. With
// `identity`, it receives the identity of the file now under `target`
// (queried before the rename, so a failing query replaces nothing). On any
// result but REPLACE_DONE the temporary file is removed and `target` is
// untouched.
ReplaceResult finish_replacement(Replacement* replacement, const char* target,
                                 FileIdentity* identity);

// Gives up: closes and removes the temporary file.
void abandon_replacement(Replacement* replacement);

#endif
