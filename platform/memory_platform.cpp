#include "memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "byte_paths.h"
#include "code_page.h"
#include "cp932_encoder.h"
#include "platform.h"
#include "temp_name.h"

namespace {

constexpr std::size_t SPARE_LIMIT = 4;

MemoryPlatform& memory_of(void* context)
{
    return *static_cast<MemoryPlatform*>(context);
}

char separator(const MemoryPlatform& m)
{
    return m.windows_paths ? '\\' : '/';
}

bool is_separator(const MemoryPlatform& m, char c)
{
    return c == '/' || (m.windows_paths && c == '\\');
}

// The root a full path starts with ("C:\", "\\" or "/"), and its length.
std::size_t root_length(const MemoryPlatform& m, const std::string& path)
{
    if (!m.windows_paths) {
        return !path.empty() && path[0] == '/' ? 1 : 0;
    }
    if (path.size() >= 3 && path[1] == ':' && is_separator(m, path[2])) {
        return 3;
    }
    return path.size() >= 2 && is_separator(m, path[0]) && is_separator(m, path[1]) ? 2 : 0;
}

PlatformFile take_handle(MemoryPlatform& m, const std::string& path)
{
    std::size_t slot = 0;
    while (slot < m.handles.size() && m.handles[slot].in_use) {
        ++slot;
    }
    if (slot == m.handles.size()) {
        m.handles.emplace_back();
    }
    m.handles[slot] = MemoryHandle{path, true, 0, false};
    return static_cast<PlatformFile>(slot + 100);  // never 0, 1, 2 or NO_FILE
}

// The handle of `file`; null for one the core never got from this table or
// closed already, which every operation then fails.
MemoryHandle* open_file(MemoryPlatform& m, PlatformFile file)
{
    const auto slot = static_cast<std::size_t>(file - 100);
    if (file < 100 || slot >= m.handles.size() || !m.handles[slot].in_use) {
        return nullptr;
    }
    return &m.handles[slot];
}

bool is_open(const MemoryPlatform& m, const std::string& path)
{
    return std::any_of(m.handles.begin(), m.handles.end(),
                       [&](const MemoryHandle& open) { return open.in_use && open.path == path; });
}

bool folder_exists(const MemoryPlatform& m, const std::string& path)
{
    return path.size() == root_length(m, path) ? !path.empty() : m.folders.count(path) != 0;
}

// The folder holding the full path `path`.
std::string parent_of(const MemoryPlatform& m, const std::string& path)
{
    const std::size_t root = root_length(m, path);
    const std::size_t last = path.find_last_of(separator(m));
    return last == std::string::npos || last < root ? path.substr(0, root) : path.substr(0, last);
}

MemoryFile* file_at(MemoryPlatform& m, const std::string& path)
{
    const auto found = m.files.find(path);
    return found == m.files.end() ? nullptr : &found->second;
}

// Gives back the memory of a file whose bytes live outside.
void drop_bytes(MemoryFile* file)
{
    std::vector<unsigned char>().swap(file->bytes);
}

std::size_t utf8_to_cp932(Cp932Encoder* encoder, const char* text, std::size_t left, char* out,
                          std::size_t* taken)
{
    const long code = utf8_decode(reinterpret_cast<const unsigned char*>(text), left, taken);
    if (code < 0) {
        return 0;
    }
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    return encode_cp932(encoder, code, out);
}

bool is_lead_byte(const MemoryPlatform& m, unsigned char byte)
{
    return m.cp932 ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

struct MemoryCalls {
    // A spare block of `size` bytes, still holding what its last user left
    // in it, or a new one: a conversion that relied on a cleared block
    // would show.
    static void* alloc_block(void* context, std::size_t size)
    {
        MemoryPlatform& m = memory_of(context);
        void* block = nullptr;
        for (auto spare = m.spare_blocks.begin(); spare != m.spare_blocks.end(); ++spare) {
            if (spare->first == size) {
                block = spare->second;
                m.spare_blocks.erase(spare);
                break;
            }
        }
        if (block == nullptr) {
            block = std::calloc(size, 1);
        }
        if (block != nullptr) {
            m.block_sizes[block] = size;
        }
        return block;
    }

    static void free_block(void* context, void* block)
    {
        MemoryPlatform& m = memory_of(context);
        if (block == nullptr) {
            return;
        }
        const auto known = m.block_sizes.find(block);
        if (known == m.block_sizes.end()) {
            return;  // not ours, or freed already: nothing to free
        }
        if (m.spare_blocks.size() < SPARE_LIMIT) {
            m.spare_blocks.emplace_back(known->second, block);
        } else {
            std::free(block);
        }
        m.block_sizes.erase(known);
    }

    static PlatformFile open_read(void* context, const char* path)
    {
        MemoryPlatform& m = memory_of(context);
        const std::string full = memory_path(m, path);
        MemoryFile* found = file_at(m, full);
        if (found == nullptr) {
            return NO_FILE;
        }
        if (found->outside != -1 && (found->outside == OUTSIDE_GONE || m.fetch == nullptr ||
                                     m.outside_size == nullptr)) {
            return NO_FILE;
        }
        return take_handle(m, full);
    }

    static std::uint64_t file_size(void* context, PlatformFile file)
    {
        MemoryPlatform& m = memory_of(context);
        const MemoryHandle* open = open_file(m, file);
        const MemoryFile* found = open != nullptr ? file_at(m, open->path) : nullptr;
        if (found != nullptr && found->outside != -1 && !open->fetched) {
            return m.outside_size(found->outside);
        }
        return found != nullptr ? found->bytes.size() : 0;
    }

    static bool read(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                     std::uint32_t* done)
    {
        MemoryPlatform& m = memory_of(context);
        MemoryHandle* open = open_file(m, file);
        MemoryFile* found = open != nullptr ? file_at(m, open->path) : nullptr;
        *done = 0;
        if (found == nullptr) {
            return false;
        }
        if (found->outside != -1 && !open->fetched) {
            open->fetched = true;
            if (!m.fetch(found->outside, &found->bytes)) {
                drop_bytes(found);
                return false;
            }
        }
        const std::size_t count =
            std::min<std::size_t>(size, found->bytes.size() - std::min(open->position, found->bytes.size()));
        if (count != 0) {
            std::memcpy(buffer, found->bytes.data() + open->position, count);
        }
        open->position += count;
        *done = static_cast<std::uint32_t>(count);
        return true;
    }

    // A new file beside `beside`, named by the same loop as the native
    // tables name theirs.
    static PlatformFile create_temp(void* context, const char* beside, const char*, char* name,
                                    std::size_t name_size)
    {
        MemoryPlatform& m = memory_of(context);
        const auto create_new = [&m](const char* path, bool* taken) -> PlatformFile {
            const std::string full = memory_path(m, path);
            *taken = m.files.count(full) != 0;
            if (*taken || !folder_exists(m, parent_of(m, full))) {
                return NO_FILE;
            }
            MemoryFile& file = m.files[full];
            file.index = m.next_index++;
            if (!m.spare_files.empty()) {
                file.bytes.swap(m.spare_files.back());
                m.spare_files.pop_back();
                file.bytes.clear();
            }
            return take_handle(m, full);
        };
        return create_under_temp_name(beside, m.windows_paths, 0, &m.temp_names, name, name_size,
                                      create_new);
    }

    static bool write(void* context, PlatformFile file, const void* data, std::uint32_t size,
                      std::uint32_t* done)
    {
        MemoryPlatform& m = memory_of(context);
        const MemoryHandle* open = open_file(m, file);
        MemoryFile* found = open != nullptr ? file_at(m, open->path) : nullptr;
        *done = 0;
        if (found == nullptr) {
            return false;
        }
        const std::size_t at = found->bytes.size();
        found->bytes.resize(at + size);
        if (size != 0) {
            std::memcpy(found->bytes.data() + at, data, size);
        }
        *done = size;
        return true;
    }

    static bool flush(void* context, PlatformFile file)
    {
        return open_file(memory_of(context), file) != nullptr;
    }

    // Memory outlives no process: a temporary file has its name at once.
    static bool keep_temp(void* context, PlatformFile file, const char*)
    {
        return open_file(memory_of(context), file) != nullptr;
    }

    static bool close(void* context, PlatformFile file)
    {
        MemoryPlatform& m = memory_of(context);
        MemoryHandle* open = open_file(m, file);
        if (open == nullptr) {
            return false;
        }
        open->in_use = false;
        MemoryFile* found = file_at(m, open->path);
        if (found != nullptr && found->outside != -1) {
            drop_bytes(found);
        }
        return true;
    }

    static bool remove_file(void* context, const char* path)
    {
        MemoryPlatform& m = memory_of(context);
        m.files.erase(memory_path(m, path));
        return true;
    }

    // As on Windows, a file still open cannot be moved.
    static ReplaceResult replace_file(void* context, const char* from, const char* to)
    {
        MemoryPlatform& m = memory_of(context);
        const std::string source = memory_path(m, from);
        const std::string target = memory_path(m, to);
        const auto moved = m.files.find(source);
        if (folder_exists(m, target)) {
            return REPLACE_REFUSED;
        }
        if (moved == m.files.end() || is_open(m, source) || !folder_exists(m, parent_of(m, target))) {
            return REPLACE_FAILED;
        }
        MemoryFile file = std::move(moved->second);
        m.files.erase(moved);
        m.files[target] = std::move(file);
        return REPLACE_DONE;
    }

    // A name is what the memory holds under it.
    static bool look_up(void* context, const char* path, NameInfo* info)
    {
        MemoryPlatform& m = memory_of(context);
        *info = NameInfo{};
        std::snprintf(info->target, sizeof info->target, "%s", path);
        const std::string full = memory_path(m, path);
        const MemoryFile* file = file_at(m, full);
        if (file != nullptr) {
            info->kind = NAME_REGULAR;
            info->read_only = file->read_only;
            info->identity = FileIdentity{1, file->index};
            info->size = file->outside != -1 ? m.outside_size(file->outside) : file->bytes.size();
        } else if (folder_exists(m, full)) {
            info->kind = NAME_FOLDER;
            const auto folder = m.folders.find(full);
            info->identity = FileIdentity{2, folder != m.folders.end() ? folder->second : 0};
        } else {
            info->kind = NAME_ABSENT;
        }
        return true;
    }

    // Names in memory have no second spelling.
    static constexpr auto meant_path = byte_path_meant;

    static bool is_lead_byte(void* context, unsigned char byte)
    {
        return ::is_lead_byte(memory_of(context), byte);
    }

    static constexpr auto path_fits = byte_path_fits;


    // The memory has no words for a failure.
    static std::size_t take_error_text(void*, char* text, std::size_t size)
    {
        if (text != nullptr && size > 0) {
            text[0] = '\0';
        }
        return 0;
    }

    // The paths in memory are code page 932 already, unless they are UTF-8.
    static std::size_t character_to_cp932(void* context, const char* text, std::size_t left,
                                          char* out,
                                          std::size_t* taken)
    {
        MemoryPlatform& m = memory_of(context);
        if (m.utf8) {
            return utf8_to_cp932(&m.encoder, text, left, out, taken);
        }
        *taken = left >= 2 && is_lead_byte(context, static_cast<unsigned char>(text[0])) &&
                         cp932_is_trail_byte(static_cast<unsigned char>(text[1]))
                     ? 2
                     : 1;
        std::memcpy(out, text, *taken);
        return *taken;
    }
};

}  // namespace

std::string memory_path(const MemoryPlatform& m, const std::string& path)
{
    if (path.empty()) {
        return path;
    }
    // Anything that starts with no root starts in the current folder.
    const std::string whole =
        root_length(m, path) != 0 ? path : m.current_folder + separator(m) + path;
    const std::size_t root = root_length(m, whole);
    std::string full = whole.substr(0, root);
    for (char& c : full) {
        c = is_separator(m, c) ? separator(m) : c;
    }
    std::vector<std::string> names;
    std::string name;
    for (std::size_t at = root; at <= whole.size(); ++at) {
        if (at == whole.size() || is_separator(m, whole[at])) {
            if (name == "..") {
                if (!names.empty()) names.pop_back();
            } else if (!name.empty() && name != ".") {
                names.push_back(name);
            }
            name.clear();
            continue;
        }
        name += whole[at];
        if (is_lead_byte(m, static_cast<unsigned char>(whole[at])) && at + 1 < whole.size() &&
            cp932_is_trail_byte(static_cast<unsigned char>(whole[at + 1]))) {
            name += whole[++at];  // a trail byte is never a separator
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        full += (i == 0 ? "" : std::string(1, separator(m))) + names[i];
    }
    return full;
}

void memory_add_folder(MemoryPlatform& m, const std::string& path)
{
    const std::string full = memory_path(m, path);
    if (full.size() > root_length(m, full) && m.folders.count(full) == 0) {
        memory_add_folder(m, parent_of(m, full));
        m.folders[full] = m.next_index++;
    }
}

MemoryFile& memory_file(MemoryPlatform& m, const std::string& path)
{
    const std::string full = memory_path(m, path);
    const auto found = m.files.find(full);
    if (found != m.files.end()) {
        return found->second;
    }
    memory_add_folder(m, parent_of(m, full));
    MemoryFile& file = m.files[full];
    file.index = m.next_index++;
    return file;
}

std::vector<std::string> memory_entries(const MemoryPlatform& m, const std::string& path)
{
    const std::string full = memory_path(m, path);
    std::vector<std::string> names;
    const auto add_children = [&](const auto& map) {
        for (const auto& entry : map) {
            if (entry.first != full && parent_of(m, entry.first) == full) {
                names.push_back(entry.first.substr(full.size() + (full.size() > root_length(m, full) ? 1 : 0)));
            }
        }
    };
    add_children(m.files);
    add_children(m.folders);
    std::sort(names.begin(), names.end());
    return names;
}

MemoryPlatform::MemoryPlatform(bool cp932, bool windows_paths)
{
    ops = platform_ops_with<MemoryCalls>(this, windows_paths);
    memory_platform_reset(*this, cp932, windows_paths);
}

MemoryPlatform::~MemoryPlatform()
{
    for (const auto& block : spare_blocks) {
        std::free(block.second);
    }
}

void memory_platform_reset(MemoryPlatform& m, bool cp932, bool windows_paths)
{
    for (auto& file : m.files) {
        if (m.spare_files.size() < SPARE_LIMIT) {
            m.spare_files.push_back(std::move(file.second.bytes));
        }
    }
    m.files.clear();
    m.folders.clear();
    m.handles.clear();
    m.cp932 = cp932;
    m.windows_paths = windows_paths;
    m.utf8 = false;
    m.outside_size = nullptr;
    m.fetch = nullptr;
    m.next_index = 1;
    m.current_folder = windows_paths ? "C:\\work" : "/work";
    m.folders[m.current_folder] = m.next_index++;
    m.ops.windows_paths = windows_paths;
}
