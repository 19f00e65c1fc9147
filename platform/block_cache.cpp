#include "block_cache.h"

namespace {

constexpr std::size_t LARGE_BLOCK = 1024 * 1024;  // a save's block; smaller ones go as they come

// The table's context is the keeper's first member, its native state.
BlockKeeper& keeper_of(void* context)
{
    return *reinterpret_cast<BlockKeeper*>(static_cast<NativeState*>(context));
}

void* alloc_block(void* context, std::size_t size)
{
    BlockKeeper& keeper = keeper_of(context);
    void* block = nullptr;
    if (keeper.kept != nullptr && keeper.kept_size == size) {
        block = keeper.kept;
        keeper.kept = nullptr;
    } else {
        block = SystemCalls::alloc_block(context, size);
    }
    if (block != nullptr && size >= LARGE_BLOCK) {
        keeper.last = block;
        keeper.last_size = size;
    }
    return block;
}

void free_block(void* context, void* block)
{
    BlockKeeper& keeper = keeper_of(context);
    if (block != nullptr && block == keeper.last) {
        keeper.last = nullptr;
        if (keeper.kept != nullptr) {
            SystemCalls::free_block(context, keeper.kept);
        }
        keeper.kept = block;
        keeper.kept_size = keeper.last_size;
        return;
    }
    SystemCalls::free_block(context, block);
}

}  // namespace

void keep_freed_blocks(BlockKeeper* keeper)
{
    keeper->ops = platform_ops_with<SystemCalls>(&keeper->native, SystemCalls::windows_paths);
    keeper->kept = nullptr;
    keeper->kept_size = 0;
    keeper->last = nullptr;
    keeper->last_size = 0;
    keeper->ops.alloc_block = alloc_block;
    keeper->ops.free_block = free_block;
}

void release_kept_block(BlockKeeper* keeper)
{
    if (keeper->kept != nullptr) {
        SystemCalls::free_block(&keeper->native, keeper->kept);
        keeper->kept = nullptr;
    }
}
