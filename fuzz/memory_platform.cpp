#include "memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>

#include "code_page.h"
#include "melno2quaz.h"
#include "platform.h"
#include "temp_name.h"

namespace {

MemoryPlatform g_state;

// An open file: its name and, for reading, how far it was read.
struct OpenFile {
    std::string name;
    bool in_use = false;
    std::size_t position = 0;
};
std::vector<OpenFile> g_open;

// Blocks and file contents of earlier runs, kept for the next one: a fresh
// 5 MB mapping for every block costs far more than the conversion itself.
struct SpareBlocks : std::vector<std::pair<std::size_t, void*>> {
    ~SpareBlocks()
    {
        for (const auto& block : *this) {
            std::free(block.second);
        }
    }
};
SpareBlocks g_spare_blocks;
std::vector<std::vector<unsigned char>> g_spare_files;
constexpr std::size_t SPARE_LIMIT = 4;

PlatformFile take_handle(const char* name)
{
    std::size_t slot = 0;
    while (slot < g_open.size() && g_open[slot].in_use) {
        ++slot;
    }
    if (slot == g_open.size()) {
        g_open.emplace_back();
    }
    g_open[slot] = OpenFile{name, true, 0};
    ++g_state.open_files;
    return static_cast<PlatformFile>(slot + 100);  // never 0, 1, 2 or NO_FILE
}

OpenFile* lookup(PlatformFile file)
{
    const auto slot = static_cast<std::size_t>(file - 100);
    if (file < 100 || slot >= g_open.size() || !g_open[slot].in_use) {
        std::abort();  // a handle the core never got from us
    }
    return &g_open[slot];
}

// A spare block of `size` bytes, still holding what its last user left in
// it, or a new one. A conversion that relied on a cleared block would show.
void* mem_alloc_block(std::size_t size)
{
    void* block = nullptr;
    for (auto spare = g_spare_blocks.begin(); spare != g_spare_blocks.end(); ++spare) {
        if (spare->first == size) {
            block = spare->second;
            g_spare_blocks.erase(spare);
            break;
        }
    }
    if (block == nullptr) {
        block = std::calloc(size, 1);
    }
    if (block != nullptr) {
        g_state.block_sizes[block] = size;
        ++g_state.live_blocks;
    }
    return block;
}


void mem_free_block(void* block)
{
    if (block == nullptr) {
        return;
    }
    const auto known = g_state.block_sizes.find(block);
    if (known == g_state.block_sizes.end()) {
        std::abort();  // not ours, or freed twice
    }
    --g_state.live_blocks;
    if (g_spare_blocks.size() < SPARE_LIMIT) {
        g_spare_blocks.emplace_back(known->second, block);
    } else {
        std::free(block);
    }
    g_state.block_sizes.erase(known);
}

PlatformFile mem_open_read(const char* path)
{
    return g_state.files.count(path) != 0 ? take_handle(path) : NO_FILE;
}

std::uint64_t mem_file_size(PlatformFile file)
{
    return static_cast<std::uint64_t>(g_state.files[lookup(file)->name].size());
}

bool mem_read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done)
{
    OpenFile* open = lookup(file);
    const std::vector<unsigned char>& bytes = g_state.files[open->name];
    const std::size_t count = std::min<std::size_t>(size, bytes.size() - open->position);
    std::memcpy(buffer, bytes.data() + open->position, count);
    open->position += count;
    *done = static_cast<std::uint32_t>(count);
    return true;
}

// A new file beside `beside`, named as the native tables name their
// temporary files.
PlatformFile mem_create_temp(const char* beside, char* name, std::size_t name_size)
{
    if (!compose_temp_name(beside, true, static_cast<std::uint32_t>(++g_state.temps), name,
                           name_size)) {
        return NO_FILE;
    }
    const std::string temp = name;
    auto file = g_state.files.emplace(temp, std::vector<unsigned char>()).first;
    if (!g_spare_files.empty()) {
        file->second.swap(g_spare_files.back());
        g_spare_files.pop_back();
    }
    file->second.clear();
    return take_handle(name);
}

bool mem_write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done)
{
    std::vector<unsigned char>& bytes = g_state.files[lookup(file)->name];
    const std::size_t at = bytes.size();
    bytes.resize(at + size);
    if (size != 0) {
        std::memcpy(bytes.data() + at, data, size);
    }
    *done = size;
    return true;
}

bool mem_close(PlatformFile file)
{
    lookup(file)->in_use = false;
    --g_state.open_files;
    return true;
}

bool mem_flush(PlatformFile file)
{
    lookup(file);
    return true;
}

bool mem_remove_file(const char* path)
{
    return g_state.files.erase(path) != 0;
}

ReplaceResult mem_replace_file(const char* from, const char* to)
{
    const auto moved = g_state.files.find(from);
    if (moved == g_state.files.end()) {
        return REPLACE_FAILED;
    }
    std::vector<unsigned char> bytes;
    bytes.swap(moved->second);
    g_state.files.erase(moved);
    g_state.files[to].swap(bytes);
    return REPLACE_DONE;
}

// The first `taken_names` names looked up (all with -1) are read-only files;
// after that a name is a file when one was written under it.
bool mem_look_up(const char* path, NameInfo* info)
{
    *info = NameInfo{};
    ++g_state.lookups;
    std::snprintf(info->target, sizeof info->target, "%s", path);
    const bool taken = g_state.taken_names < 0 || (g_state.taken_names > 0 && g_state.taken_names--);
    const auto file = g_state.files.find(path);
    if (taken || file != g_state.files.end()) {
        info->kind = NAME_REGULAR;
        info->read_only = taken;
        info->identity = FileIdentity{1, std::hash<std::string>()(path)};
    } else {
        info->kind = NAME_ABSENT;
    }
    return true;
}

bool mem_is_lead_byte(unsigned char byte)
{
    return g_state.cp932 ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

bool mem_path_fits(const char* path)
{
    return strnlen(path, PATH_LIMIT + 1) <= PATH_LIMIT;
}

std::size_t mem_take_error_text(char* text, std::size_t size)
{
    if (text != nullptr && size > 0) {
        text[0] = '\0';
    }
    return 0;
}

// The files in memory are named like Windows paths, in the code page.
std::size_t mem_character_to_cp932(const char* text, std::size_t, char* out, std::size_t* taken)
{
    out[0] = text[0];
    *taken = 1;
    return 1;
}

const PlatformOps MEMORY_OPS = {
    mem_alloc_block, mem_free_block,  mem_open_read, mem_file_size,
    mem_read,        mem_create_temp, mem_write,     mem_flush,
    mem_close,       mem_remove_file, mem_replace_file, mem_look_up,
    mem_is_lead_byte, mem_path_fits, mem_take_error_text, mem_character_to_cp932,
    true,
};

}  // namespace

MemoryPlatform& memory_platform_begin(bool cp932)
{
    for (auto& file : g_state.files) {
        if (g_spare_files.size() < SPARE_LIMIT) {
            g_spare_files.push_back(std::move(file.second));
        }
    }
    g_state = MemoryPlatform{};
    g_state.cp932 = cp932;
    g_open.clear();
    platform_install(&MEMORY_OPS);
    return g_state;
}

void memory_platform_end()
{
    platform_install(nullptr);
}
