// The paths of one batch (a drop or the command line) in a single block of
// memory sized for them: each path whole, however long, so that the core
// can refuse one that does not fit its path buffer instead of getting a cut
// name that might name another file.
#ifndef MELNO2QUAZ_PATH_LIST_H
#define MELNO2QUAZ_PATH_LIST_H

#include <cstddef>

struct PathList {
    const char** paths;      // `count` entries, each pointing into `text`
    std::size_t count;
    std::size_t capacity;    // entries allocated
    char* text;              // the paths, NUL-terminated, one after another
    std::size_t text_size;
    std::size_t text_used;
    void* block;             // holds both; null when nothing is allocated
};

// Allocates room for `count` paths of `text_size` bytes in all, terminators
// included. False (and an empty list) when the sizes overflow or there is
// no memory.
bool allocate_path_list(PathList* list, std::size_t count, std::size_t text_size);

// Takes the next `size` bytes of the text for the next path and returns
// them, or null when the entries or the text are used up.
char* add_path(PathList* list, std::size_t size);

// Frees the block; the list is empty afterwards.
void release_path_list(PathList* list);

// Adds `addend` to `*total`; false when the sum would overflow.
bool add_size(std::size_t* total, std::size_t addend);

// Releases a list when it goes out of scope.
struct PathListOwner {
    PathList list{};
    PathListOwner() = default;
    PathListOwner(const PathListOwner&) = delete;
    PathListOwner& operator=(const PathListOwner&) = delete;
    ~PathListOwner() { release_path_list(&list); }
};

#endif
