#include "memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "code_page.h"
#include "melno2quaz.h"
#include "platform.h"
#include "temp_name.h"

namespace {

MemoryPlatform g_state;

// An open file: its full path and, for reading, how far it was read and
// whether the bytes of an outside file were brought in.
struct OpenFile {
    std::string path;
    bool in_use = false;
    std::size_t position = 0;
    bool fetched = false;
};
std::vector<OpenFile> g_open;

// Blocks and file contents of earlier runs, kept for the next one: a fresh
// 5 MB mapping for every block costs the fuzzers far more than the
// conversion itself.
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

char separator()
{
    return g_state.windows_paths ? '\\' : '/';
}

bool is_separator(char c)
{
    return c == '/' || (g_state.windows_paths && c == '\\');
}

// The root a full path starts with ("C:\", "\\" or "/"), and its length.
std::size_t root_length(const std::string& path)
{
    if (!g_state.windows_paths) {
        return !path.empty() && path[0] == '/' ? 1 : 0;
    }
    if (path.size() >= 3 && path[1] == ':' && is_separator(path[2])) {
        return 3;
    }
    return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]) ? 2 : 0;
}

PlatformFile take_handle(const std::string& path)
{
    std::size_t slot = 0;
    while (slot < g_open.size() && g_open[slot].in_use) {
        ++slot;
    }
    if (slot == g_open.size()) {
        g_open.emplace_back();
    }
    g_open[slot] = OpenFile{path, true, 0, false};
    ++g_state.open_files;
    return static_cast<PlatformFile>(slot + 100);  // never 0, 1, 2 or NO_FILE
}

OpenFile* open_file(PlatformFile file)
{
    const auto slot = static_cast<std::size_t>(file - 100);
    if (file < 100 || slot >= g_open.size() || !g_open[slot].in_use) {
        std::abort();  // a handle the core never got from us
    }
    return &g_open[slot];
}

bool is_open(const std::string& path)
{
    return std::any_of(g_open.begin(), g_open.end(),
                       [&](const OpenFile& open) { return open.in_use && open.path == path; });
}

bool folder_exists(const std::string& path)
{
    return path.size() == root_length(path) ? !path.empty() : g_state.folders.count(path) != 0;
}

// The folder holding the full path `path`.
std::string parent_of(const std::string& path)
{
    const std::size_t root = root_length(path);
    const std::size_t last = path.find_last_of(separator());
    return last == std::string::npos || last < root ? path.substr(0, root) : path.substr(0, last);
}

MemoryFile* file_at(const std::string& path)
{
    const auto found = g_state.files.find(path);
    return found == g_state.files.end() ? nullptr : &found->second;
}

// Gives back the memory of a file whose bytes live outside.
void drop_bytes(MemoryFile* file)
{
    std::vector<unsigned char>().swap(file->bytes);
}

// The code point of the UTF-8 character at `text`, and its length in
// `*taken` (1 for a byte that starts no character); -1 when there is none:
// a stray byte, a cut or overlong form, a surrogate.
long decode_utf8(const unsigned char* text, std::size_t left, std::size_t* taken)
{
    *taken = 1;
    const unsigned char lead = text[0];
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > left) {
        return -1;
    }
    long code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            return -1;
        }
        code = (code << 6) | (text[i] & 0x3F);
    }
    const long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
        return -1;
    }
    *taken = length;
    return code;
}

#ifdef _WIN32
// A code point in code page 932 (at most 2 bytes into `out`); 0 when it
// has none (no best fit: a character is the same or it is '?').
std::size_t encode_cp932(long code, char* out)
{
    wchar_t wide[2];
    int units = 1;
    if (code >= 0x10000) {
        wide[0] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        wide[1] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = static_cast<wchar_t>(code);
    }
    BOOL defaulted = FALSE;
    const int length = ::WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, units, out, 2, nullptr,
                                             &defaulted);
    return length > 0 && !defaulted ? static_cast<std::size_t>(length) : 0;
}
#else
// A code point in code page 932 (at most 2 bytes into `out`); 0 when it
// has none. The C library's "CP932" converter is used where it has one;
// otherwise (the page's) its "SHIFT_JIS" one, which writes the six
// characters where code page 932 and JIS X 0208 part ways under their JIS
// code points, so those are asked for by those.
std::size_t encode_cp932(long code, char* out)
{
    static const iconv_t converter = [] {
        const iconv_t cp932 = ::iconv_open("CP932", "UTF-32LE");
        return cp932 != reinterpret_cast<iconv_t>(-1) ? cp932 : ::iconv_open("SHIFT_JIS", "UTF-32LE");
    }();
    static const bool jis = [] {
        const iconv_t cp932 = ::iconv_open("CP932", "UTF-32LE");
        if (cp932 == reinterpret_cast<iconv_t>(-1)) {
            return true;
        }
        ::iconv_close(cp932);
        return false;
    }();
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return 0;
    }
    if (jis) {
        // FULLWIDTH TILDE, PARALLEL TO, FULLWIDTH HYPHEN-MINUS, and the
        // fullwidth cent, pound and not signs, by their JIS X 0208 forms.
        static const long SWAPS[][2] = {{0xFF5E, 0x301C}, {0x2225, 0x2016}, {0xFF0D, 0x2212},
                                        {0xFFE0, 0x00A2}, {0xFFE1, 0x00A3}, {0xFFE2, 0x00AC}};
        for (const auto& swap : SWAPS) {
            if (code == swap[0]) {
                code = swap[1];
            } else if (code == swap[1]) {
                return 0;  // no code page 932 form of its own
            }
        }
    }
    unsigned char utf32[4] = {static_cast<unsigned char>(code), static_cast<unsigned char>(code >> 8),
                              static_cast<unsigned char>(code >> 16), 0};
    char* from = reinterpret_cast<char*>(utf32);
    std::size_t from_left = sizeof utf32;
    char* to = out;
    std::size_t to_left = 2;
    if (::iconv(converter, &from, &from_left, &to, &to_left) == static_cast<std::size_t>(-1)) {
        ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return static_cast<std::size_t>(to - out);
}

#endif

std::size_t utf8_to_cp932(const char* text, std::size_t left, char* out, std::size_t* taken)
{
    const long code = decode_utf8(reinterpret_cast<const unsigned char*>(text), left, taken);
    if (code < 0) {
        return 0;
    }
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    return encode_cp932(code, out);
}

struct MemoryCalls {
    // A spare block of `size` bytes, still holding what its last user left
    // in it, or a new one: a conversion that relied on a cleared block
    // would show.
    static void* alloc_block(std::size_t size)
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

    static void free_block(void* block)
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

    static PlatformFile open_read(const char* path)
    {
        const std::string full = memory_path(path);
        MemoryFile* found = file_at(full);
        if (found == nullptr) {
            return NO_FILE;
        }
        if (found->outside != -1 && (found->outside == OUTSIDE_GONE || g_state.fetch == nullptr ||
                                     g_state.outside_size == nullptr)) {
            return NO_FILE;
        }
        return take_handle(full);
    }

    static std::uint64_t file_size(PlatformFile file)
    {
        const OpenFile* open = open_file(file);
        const MemoryFile* found = file_at(open->path);
        if (found != nullptr && found->outside != -1 && !open->fetched) {
            return g_state.outside_size(found->outside);
        }
        return found != nullptr ? found->bytes.size() : 0;
    }

    static bool read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done)
    {
        OpenFile* open = open_file(file);
        MemoryFile* found = file_at(open->path);
        *done = 0;
        if (found == nullptr) {
            return false;
        }
        if (found->outside != -1 && !open->fetched) {
            open->fetched = true;
            if (!g_state.fetch(found->outside, &found->bytes)) {
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
    static PlatformFile create_temp(const char* beside, const char*, char* name,
                                    std::size_t name_size)
    {
        const auto create_new = [](const char* path, bool* taken) -> PlatformFile {
            const std::string full = memory_path(path);
            *taken = g_state.files.count(full) != 0;
            if (*taken || !folder_exists(parent_of(full))) {
                return NO_FILE;
            }
            MemoryFile& file = g_state.files[full];
            file.index = g_state.next_index++;
            if (!g_spare_files.empty()) {
                file.bytes.swap(g_spare_files.back());
                g_spare_files.pop_back();
                file.bytes.clear();
            }
            return take_handle(full);
        };
        return create_under_temp_name(beside, g_state.windows_paths, 0, name, name_size, create_new);
    }

    static bool write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done)
    {
        MemoryFile* found = file_at(open_file(file)->path);
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

    static bool flush(PlatformFile file)
    {
        open_file(file);
        return true;
    }

    static bool close(PlatformFile file)
    {
        OpenFile* open = open_file(file);
        open->in_use = false;
        --g_state.open_files;
        MemoryFile* found = file_at(open->path);
        if (found != nullptr && found->outside != -1) {
            drop_bytes(found);
        }
        return true;
    }

    static bool remove_file(const char* path)
    {
        return g_state.files.erase(memory_path(path)) != 0;
    }

    // As on Windows, a file still open cannot be moved.
    static ReplaceResult replace_file(const char* from, const char* to)
    {
        const std::string source = memory_path(from);
        const std::string target = memory_path(to);
        const auto moved = g_state.files.find(source);
        if (folder_exists(target)) {
            return REPLACE_REFUSED;
        }
        if (moved == g_state.files.end() || is_open(source) || !folder_exists(parent_of(target))) {
            return REPLACE_FAILED;
        }
        MemoryFile file = std::move(moved->second);
        g_state.files.erase(moved);
        g_state.files[target] = std::move(file);
        return REPLACE_DONE;
    }

    // The first `taken_names` names looked up (all with -1) are read-only
    // files; after that a name is what the memory holds under it.
    static bool look_up(const char* path, NameInfo* info)
    {
        *info = NameInfo{};
        ++g_state.lookups;
        std::snprintf(info->target, sizeof info->target, "%s", path);
        const bool taken = g_state.taken_names < 0 || (g_state.taken_names > 0 && g_state.taken_names--);
        const std::string full = memory_path(path);
        const MemoryFile* file = file_at(full);
        if (taken || file != nullptr) {
            info->kind = NAME_REGULAR;
            info->read_only = taken || file->read_only;
            info->identity = FileIdentity{1, file != nullptr ? file->index : 0};
        } else if (folder_exists(full)) {
            info->kind = NAME_FOLDER;
            const auto folder = g_state.folders.find(full);
            info->identity = FileIdentity{2, folder != g_state.folders.end() ? folder->second : 0};
        } else {
            info->kind = NAME_ABSENT;
        }
        return true;
    }

    // Names in memory have no second spelling.
    static bool meant_path(const char* path, char* meant, std::size_t size)
    {
        const int length = std::snprintf(meant, size, "%s", path);
        return length >= 0 && static_cast<std::size_t>(length) < size;
    }

    static bool is_lead_byte(unsigned char byte)
    {
        return g_state.cp932 ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
    }

    static bool path_fits(const char* path)
    {
        return strnlen(path, PATH_LIMIT + 1) <= PATH_LIMIT;
    }

    // The memory has no words for a failure.
    static std::size_t take_error_text(char* text, std::size_t size)
    {
        if (text != nullptr && size > 0) {
            text[0] = '\0';
        }
        return 0;
    }

    // The paths in memory are code page 932 already, unless they are UTF-8.
    static std::size_t character_to_cp932(const char* text, std::size_t left, char* out,
                                          std::size_t* taken)
    {
        if (g_state.utf8) {
            return utf8_to_cp932(text, left, out, taken);
        }
        *taken = left >= 2 && is_lead_byte(static_cast<unsigned char>(text[0])) &&
                         cp932_is_trail_byte(static_cast<unsigned char>(text[1]))
                     ? 2
                     : 1;
        std::memcpy(out, text, *taken);
        return *taken;
    }
};

PlatformOps g_ops{};

}  // namespace

std::string memory_path(const std::string& path)
{
    if (path.empty()) {
        return path;
    }
    // Anything that starts with no root starts in the current folder.
    const std::string whole =
        root_length(path) != 0 ? path : g_state.current_folder + separator() + path;
    const std::size_t root = root_length(whole);
    std::string full = whole.substr(0, root);
    for (char& c : full) {
        c = is_separator(c) ? separator() : c;
    }
    std::vector<std::string> names;
    std::string name;
    for (std::size_t at = root; at <= whole.size(); ++at) {
        if (at == whole.size() || is_separator(whole[at])) {
            if (name == "..") {
                if (!names.empty()) names.pop_back();
            } else if (!name.empty() && name != ".") {
                names.push_back(name);
            }
            name.clear();
            continue;
        }
        name += whole[at];
        if (MemoryCalls::is_lead_byte(static_cast<unsigned char>(whole[at])) && at + 1 < whole.size() &&
            cp932_is_trail_byte(static_cast<unsigned char>(whole[at + 1]))) {
            name += whole[++at];  // a trail byte is never a separator
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        full += (i == 0 ? "" : std::string(1, separator())) + names[i];
    }
    return full;
}

void memory_add_folder(const std::string& path)
{
    const std::string full = memory_path(path);
    if (full.size() > root_length(full) && g_state.folders.count(full) == 0) {
        memory_add_folder(parent_of(full));
        g_state.folders[full] = g_state.next_index++;
    }
}

MemoryFile& memory_file(const std::string& path)
{
    const std::string full = memory_path(path);
    const auto found = g_state.files.find(full);
    if (found != g_state.files.end()) {
        return found->second;
    }
    memory_add_folder(parent_of(full));
    MemoryFile& file = g_state.files[full];
    file.index = g_state.next_index++;
    return file;
}

std::vector<std::string> memory_entries(const std::string& path)
{
    const std::string full = memory_path(path);
    std::vector<std::string> names;
    const auto add_children = [&](const auto& map) {
        for (const auto& entry : map) {
            if (entry.first != full && parent_of(entry.first) == full) {
                names.push_back(entry.first.substr(full.size() + (full.size() > root_length(full) ? 1 : 0)));
            }
        }
    };
    add_children(g_state.files);
    add_children(g_state.folders);
    std::sort(names.begin(), names.end());
    return names;
}

MemoryPlatform& memory_platform_begin(bool cp932, bool windows_paths)
{
    for (auto& file : g_state.files) {
        if (g_spare_files.size() < SPARE_LIMIT) {
            g_spare_files.push_back(std::move(file.second.bytes));
        }
    }
    g_state = MemoryPlatform{};
    g_state.cp932 = cp932;
    g_state.windows_paths = windows_paths;
    g_state.current_folder = windows_paths ? "C:\\work" : "/work";
    g_state.folders[g_state.current_folder] = g_state.next_index++;
    g_open.clear();
    g_ops = platform_ops_of<MemoryCalls>(windows_paths);
    platform_install(&g_ops);
    return g_state;
}

void memory_platform_end()
{
    platform_install(nullptr);
}
