// A batch reads each save into a block of about 5 MB. On Windows the
// block a file frees is kept for the next one, so that a batch does not
// have the system map, clear and unmap 5 MB for every file (glibc's heap
// does the same for the Linux program, told so by mallopt).
#ifndef MELNO2QUAZ_BLOCK_CACHE_H
#define MELNO2QUAZ_BLOCK_CACHE_H

// Puts a platform table in place that is the native one but for keeping
// the last large block freed. Called once, before any batch.
void keep_freed_blocks();

// Frees the block kept, once a batch has ended.
void release_kept_block();

#endif
