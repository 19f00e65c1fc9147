#include "block_cache.h"

namespace {

constexpr std::size_t LARGE_BLOCK = 1024 * 1024;  // a save's block; smaller ones go as they come

BlockKeeper& keeper_of(void* context)
{
    return *static_cast<BlockKeeper*>(context);
}

void* alloc_block(void* context, std::size_t size)
{
    BlockKeeper& keeper = keeper_of(context);
    const PlatformOps& native = platform_native();
    void* block = nullptr;
    if (keeper.kept != nullptr && keeper.kept_size == size) {
        block = keeper.kept;
        keeper.kept = nullptr;
    } else {
        block = native.alloc_block(native.context, size);
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
    const PlatformOps& native = platform_native();
    if (block != nullptr && block == keeper.last) {
        keeper.last = nullptr;
        if (keeper.kept != nullptr) {
            native.free_block(native.context, keeper.kept);
        }
        keeper.kept = block;
        keeper.kept_size = keeper.last_size;
        return;
    }
    native.free_block(native.context, block);
}

}  // namespace

void keep_freed_blocks(BlockKeeper* keeper)
{
    *keeper = BlockKeeper{platform_native(), nullptr, 0, nullptr, 0};
    keeper->ops.context = keeper;
    keeper->ops.alloc_block = alloc_block;
    keeper->ops.free_block = free_block;
}

void release_kept_block(BlockKeeper* keeper)
{
    if (keeper->kept != nullptr) {
        const PlatformOps& native = platform_native();
        native.free_block(native.context, keeper->kept);
        keeper->kept = nullptr;
    }
}
