// A batch reads each save into a block of about 5 MB. On Windows the
// block a file frees is kept for the next one, so that a batch does not
// have the system map, clear and unmap 5 MB for every file (glibc's heap
// does the same for the Linux program, told so by mallopt).
#ifndef MELNO2QUAZ_BLOCK_CACHE_H
#define MELNO2QUAZ_BLOCK_CACHE_H

#include <cstddef>

#include "platform.h"
#include "system_calls.h"

// The native table but for keeping the last large block freed, with a
// state of its own. The record is the table's context: its first member is
// the native operations' state, and its allocation and freeing keep theirs
// after it. One batch at a time.
struct BlockKeeper {
    NativeState native;      // first: the context the native operations get
    PlatformOps ops;         // the table to hand the core
    void* kept;              // a freed large block, and its size
    std::size_t kept_size;
    void* last;              // the latest large block handed out, and its size
    std::size_t last_size;
};

// Makes `keeper` such a table, keeping nothing yet.
void keep_freed_blocks(BlockKeeper* keeper);

// Frees the block kept, once a batch has ended.
void release_kept_block(BlockKeeper* keeper);

#endif
