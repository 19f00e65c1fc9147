#include "block_cache.h"

#include <cstddef>

#include "platform.h"

namespace {

constexpr std::size_t LARGE_BLOCK = 1024 * 1024;  // a save's block; smaller ones go as they come

PlatformOps g_ops;
void* g_kept = nullptr;  // a freed large block, and its size
std::size_t g_kept_size = 0;
void* g_last = nullptr;  // the latest large block handed out, and its size
std::size_t g_last_size = 0;

// Only the batch calls these, from one thread at a time.
void* alloc_block(std::size_t size)
{
    void* block = nullptr;
    if (g_kept != nullptr && g_kept_size == size) {
        block = g_kept;
        g_kept = nullptr;
    } else {
        block = platform_native().alloc_block(size);
    }
    if (block != nullptr && size >= LARGE_BLOCK) {
        g_last = block;
        g_last_size = size;
    }
    return block;
}

void free_block(void* block)
{
    if (block != nullptr && block == g_last) {
        g_last = nullptr;
        if (g_kept != nullptr) {
            platform_native().free_block(g_kept);
        }
        g_kept = block;
        g_kept_size = g_last_size;
        return;
    }
    platform_native().free_block(block);
}

}  // namespace

void keep_freed_blocks()
{
    g_ops = platform_native();
    g_ops.alloc_block = alloc_block;
    g_ops.free_block = free_block;
    platform_install(&g_ops);
}

void release_kept_block()
{
    if (g_kept != nullptr) {
        platform_native().free_block(g_kept);
        g_kept = nullptr;
    }
}
