#include "path_list.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

bool add_size(std::size_t* total, std::size_t addend)
{
    if (addend > SIZE_MAX - *total) {
        return false;
    }
    *total += addend;
    return true;
}

bool allocate_path_list(PathList* list, std::size_t count, std::size_t text_size)
{
    *list = PathList{};
    if (count > SIZE_MAX / sizeof(const char*)) {
        return false;
    }
    std::size_t block_size = count * sizeof(const char*);
    if (!add_size(&block_size, text_size)) {
        return false;
    }
    if (block_size == 0) {
        return true;  // nothing to hold
    }
    void* block = HeapAlloc(GetProcessHeap(), 0, block_size);
    if (block == nullptr) {
        return false;
    }
    list->block = block;
    list->paths = static_cast<const char**>(block);
    list->text = static_cast<char*>(block) + count * sizeof(const char*);
    list->text_size = text_size;
    list->count = 0;
    list->capacity = count;
    return true;
}

char* add_path(PathList* list, std::size_t size)
{
    if (list->block == nullptr || list->count == list->capacity || size == 0 ||
        size > list->text_size - list->text_used) {
        return nullptr;
    }
    char* slot = list->text + list->text_used;
    list->text_used += size;
    list->paths[list->count++] = slot;
    return slot;
}

void release_path_list(PathList* list)
{
    if (list->block != nullptr) {
        HeapFree(GetProcessHeap(), 0, list->block);
    }
    *list = PathList{};
}
