#include "test_support.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <system_error>

#include <gtest/gtest.h>

#include "little_endian.h"
#include "melno2quaz.h"
#include "sample_save.h"
#include "source_save.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace fs = std::filesystem;

namespace m2q_test {

// ---------------------------------------------------------------------------
// Folders and files

#ifdef _WIN32
namespace {

std::string wide_to_code_page(const std::wstring& wide, UINT code_page) {
    if (wide.empty()) return {};
    const int length = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

std::wstring code_page_to_wide(const std::string& bytes, UINT code_page) {
    if (bytes.empty()) return {};
    const int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        out.data(), length);
    return out;
}

}  // namespace

// The core's paths are UTF-8 on Windows.
std::string narrow(const fs::path& p) { return wide_to_code_page(p.wstring(), CP_UTF8); }
fs::path from_narrow(const std::string& bytes) { return fs::path(code_page_to_wide(bytes, CP_UTF8)); }
#else
std::string narrow(const fs::path& p) { return p.string(); }
fs::path from_narrow(const std::string& bytes) { return fs::path(bytes); }
#endif

TempFolder::TempFolder() {
    static std::atomic<unsigned> serial{0};
    std::random_device device;
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937_64 mix(ticks ^ (static_cast<unsigned long long>(device()) << 32) ^ serial++);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "m2q_%08llx",
                      static_cast<unsigned long long>(mix() & 0xFFFFFFFFu));
        const fs::path candidate = fs::temp_directory_path() / name;
        std::error_code error;
        if (fs::create_directory(candidate, error) && !error) {
            path_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder";
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TempFolder::file(const std::string& name) const { return prefix() + name; }

std::string TempFolder::prefix() const {
#ifdef _WIN32
    return narrow(path_) + "\\";
#else
    return narrow(path_) + "/";
#endif
}

std::vector<std::string> TempFolder::entries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(path_, error)) {
        names.push_back(narrow(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

CurrentFolderGuard::CurrentFolderGuard(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
}

CurrentFolderGuard::~CurrentFolderGuard() {
    std::error_code error;
    fs::current_path(previous_, error);
}

namespace {

// The whole file in one read (outputs are megabytes; a byte-wise stream
// iterator would dominate the fault matrix's time).
template <typename Buffer>
Buffer read_whole(const std::string& path) {
    std::ifstream in(from_narrow(path), std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    Buffer bytes(static_cast<std::size_t>(size), 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(&bytes[0]), static_cast<std::streamsize>(size));
    if (!in) return {};
    return bytes;
}

}  // namespace

Bytes read_file(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(from_narrow(path), error)) return {};
    return read_whole<Bytes>(path);
}

std::string read_text(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(from_narrow(path), error)) return {};
    return read_whole<std::string>(path);
}

bool write_file(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(from_narrow(path), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return !out.fail();
}

bool write_file(const std::string& path, const Bytes& data) {
    return write_file(path, data.data(), data.size());
}

bool write_file(const std::string& path, const std::string& data) {
    return write_file(path, data.data(), data.size());
}

bool file_exists(const std::string& path) {
    std::error_code error;
    return fs::exists(from_narrow(path), error);
}

// ---------------------------------------------------------------------------
// Text

#ifndef _WIN32
std::string iconv_convert(const std::string& in, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
        return {};
    }
    std::string out(in.size() * 4 + 16, '\0');
    char* in_ptr = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();
    const std::size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1) || in_left != 0) {
        ADD_FAILURE() << "iconv " << from << " -> " << to << " failed on " << show_bytes(in);
        return {};
    }
    out.resize(out.size() - out_left);
    return out;
}
#endif

std::string utf8_to_cp932(const std::string& utf8) {
#ifdef _WIN32
    const std::wstring wide = code_page_to_wide(utf8, CP_UTF8);
    const std::string out = wide_to_code_page(wide, 932);
    if (!utf8.empty() && out.empty()) ADD_FAILURE() << "no code page 932 text for " << utf8;
    return out;
#else
    return iconv_convert(utf8, "CP932", "UTF-8");
#endif
}

std::string cp932_to_utf8(const std::string& cp932) {
#ifdef _WIN32
    const std::wstring wide = code_page_to_wide(cp932, 932);
    const std::string out = wide_to_code_page(wide, CP_UTF8);
    if (!cp932.empty() && out.empty()) ADD_FAILURE() << "not code page 932: " << show_bytes(cp932);
    return out;
#else
    return iconv_convert(cp932, "UTF-8", "CP932");
#endif
}

// Codes 1 and 2 end in a bare line feed, the others in CR LF.
std::string error_text_utf8(std::int32_t code) {
    switch (code) {
    case ERR_WORK_MEMORY: return u8"作業用メモリの確保に失敗しました。\n";
    case ERR_NOT_SOURCE: return u8"Melnoのデータではありません。\n";
    case ERR_SOURCE_MEMORY: return u8"ディレクトリ、または、メモリの確保に失敗しました。\r\n";
    case ERR_WRITE_TARGET: return u8"Quazファイルの書き込みに失敗しました。\r\n";
    case ERR_READ_SOURCE: return u8"Melnoファイルの読み込みに失敗しました。\r\n";
    case ERR_PATH_TOO_LONG: return u8"パスが長すぎます。\r\n";
    default: ADD_FAILURE() << "no error text for code " << code; return {};
    }
}

std::string error_text_cp932(std::int32_t code) { return utf8_to_cp932(error_text_utf8(code)); }

std::string expected_summary(const std::string& city, std::int32_t map, const std::string& time,
                             const std::string& funds) {
    return utf8_to_cp932(u8"都市名:") + city +
           utf8_to_cp932(u8"\r\n  マップ:" + std::to_string(map) + u8"\r\n  時  間:" + time +
                         u8"\r\n  資  金:" + funds + "\r\n");
}

std::string expected_record(std::size_t index, std::size_t count, const std::string& path,
                            std::int32_t code, const std::string& summary) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "%04zu/%04zu", index, count);
    const std::string head = counter + utf8_to_cp932(u8"\r\n  変換元:") + path + "\r\n  ";
    if (code == CONVERT_OK) return head + summary + "\r\n";
    return head + error_text_cp932(code) + "  (Err:" + std::to_string(code) + ")\r\n\r\n";
}

std::string show_bytes(const std::string& bytes) {
    std::string out;
    char hex[4];
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        std::snprintf(hex, sizeof hex, "%02X", byte);
        if (!out.empty()) out += ' ';
        out += hex;
        if (byte >= 0x20 && byte < 0x7F) {
            out += '(';
            out += c;
            out += ')';
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Synthetic Melno images

// Bounds are checked by at() on the field's last byte.
void put_le32(Bytes& image, std::size_t offset, std::uint32_t value) {
    image.at(offset + 3);
    store_le(image.data() + offset, value, 4);
}

void put_le64(Bytes& image, std::size_t offset, std::uint64_t value) {
    image.at(offset + 7);
    store_le(image.data() + offset, value, 8);
}

std::uint32_t get_le32(const Bytes& image, std::size_t offset) {
    image.at(offset + 3);
    return load_le32(image.data() + offset);
}

std::uint64_t get_le64(const Bytes& image, std::size_t offset) {
    image.at(offset + 7);
    return load_le64(image.data() + offset);
}

Bytes zero_source() { return sample_bytes(sample_save_defaults()); }

Bytes pattern_source() {
    SampleSave save = sample_save_defaults();
    save.fill = SAMPLE_FILL_PATTERN;
    save.write_fields = false;
    return sample_bytes(save);
}

Bytes city_source(const std::string& name, std::int32_t map_number, std::int32_t clock,
                  std::int64_t funds) {
    SampleSave save = sample_save_defaults();
    EXPECT_TRUE(sample_set_name(&save, name)) << "a name of more than 16 bytes";
    save.map_number = map_number;
    save.game_clock = clock;
    save.funds = funds;
    return sample_bytes(save);
}

// ---------------------------------------------------------------------------
// Fault-injecting platform

const char* platform_call_name(PlatformCall call) {
    switch (call) {
    case PlatformCall::alloc: return "alloc";
    case PlatformCall::free: return "free";
    case PlatformCall::open_read: return "open_read";
    case PlatformCall::file_size: return "file_size";
    case PlatformCall::read: return "read";
    case PlatformCall::create_temp: return "create_temp";
    case PlatformCall::write: return "write";
    case PlatformCall::flush: return "flush";
    case PlatformCall::close: return "close";
    case PlatformCall::remove: return "remove";
    case PlatformCall::replace: return "replace";
    case PlatformCall::look_up: return "look_up";
    case PlatformCall::lead_byte: return "lead_byte";
    }
    return "?";
}

Fault fault_on(PlatformCall call, int first) {
    Fault fault;
    fault.call = call;
    fault.first = first;
    return fault;
}

namespace {

struct PlannedFault {
    Fault fault;
    int matched = 0;
};

// A file the table opened and has not seen closed.
struct OpenFile {
    std::string path;
    int number;     // TraceEntry::file
    bool writable;  // from create_temp
};

struct FaultState {
    const PlatformOps* native = nullptr;
    PlatformOps ops{};
    std::vector<PlannedFault> faults;
    std::array<int, PLATFORM_CALL_KINDS> counts{};
    std::vector<TraceEntry> trace;
    std::map<void*, std::size_t> blocks;
    std::map<PlatformFile, OpenFile> files;
    int files_opened = 0;
    int applied = 0;
    std::vector<std::string> misuses;
    bool (*lead)(unsigned char) = nullptr;
    bool injected = false;  // a planned fault applied since take_error_text last asked
};

FaultState* g_state = nullptr;

const OpenFile* file_of(PlatformFile file) {
    const auto it = g_state->files.find(file);
    return it == g_state->files.end() ? nullptr : &it->second;
}

// Counts the call, records it, and returns the fault to apply, if any.
const Fault* enter(PlatformCall call, const std::string& path, std::size_t size, int file = 0) {
    FaultState& s = *g_state;
    ++s.counts[static_cast<int>(call)];
    const Fault* chosen = nullptr;
    for (PlannedFault& planned : s.faults) {
        const Fault& f = planned.fault;
        if (f.call != call) continue;
        if (!f.path_part.empty() && path.find(f.path_part) == std::string::npos) continue;
        if (call == PlatformCall::alloc && f.alloc_size != 0 && f.alloc_size != size) continue;
        const int n = ++planned.matched;
        if (chosen == nullptr && n >= f.first && n - f.first < f.times) chosen = &f;
    }
    if (chosen != nullptr) {
        ++s.applied;
        s.injected = true;
    }
    s.trace.push_back(TraceEntry{call, path, size, chosen != nullptr, file, 0});
    return chosen;
}

// Enters a call on an open file. Null (and a misuse noted) when the file is
// not open, or not open for what the call does.
const OpenFile* enter_on(PlatformCall call, PlatformFile file, std::size_t size, bool writing,
                         const Fault** fault) {
    const OpenFile* open = file_of(file);
    *fault = enter(call, open != nullptr ? open->path : std::string(), size,
                   open != nullptr ? open->number : 0);
    if (open == nullptr) {
        g_state->misuses.push_back(std::string(platform_call_name(call)) + " on a file not open");
        return nullptr;
    }
    if (open->writable != writing) {
        g_state->misuses.push_back(std::string(platform_call_name(call)) + " on " + open->path +
                                   (writing ? ", opened for reading" : ", opened for writing"));
        return nullptr;
    }
    return open;
}

PlatformFile opened(PlatformFile file, const std::string& path, bool writable) {
    if (file == NO_FILE) return file;
    const int number = ++g_state->files_opened;
    g_state->files[file] = OpenFile{path, number, writable};
    g_state->trace.back().file = number;
    return file;
}

void* faulty_alloc(std::size_t size) {
    if (enter(PlatformCall::alloc, std::string(), size) != nullptr) return nullptr;
    void* block = g_state->native->alloc_block(size);
    if (block != nullptr) g_state->blocks[block] = size;
    return block;
}

void faulty_free(void* block) {
    enter(PlatformCall::free, std::string(), 0);
    if (block == nullptr) return;
    if (g_state->blocks.erase(block) == 0) {
        g_state->misuses.push_back("free of a block not allocated or already freed");
        return;
    }
    g_state->native->free_block(block);
}

PlatformFile faulty_open_read(const char* path) {
    const std::string name = path != nullptr ? path : "";
    if (enter(PlatformCall::open_read, name, 0) != nullptr) return NO_FILE;
    return opened(g_state->native->open_read(path), name, false);
}

std::uint64_t faulty_file_size(PlatformFile file) {
    const Fault* fault = nullptr;
    if (enter_on(PlatformCall::file_size, file, 0, false, &fault) == nullptr || fault != nullptr) {
        return 0;
    }
    return g_state->native->file_size(file);
}

// Moves at most `size` bytes through `transfer`, or fails, as the fault says.
template <typename Transfer>
bool faulty_transfer(const Fault* fault, bool misuse, std::uint32_t size, std::uint32_t* done,
                     Transfer transfer) {
    TraceEntry& entry = g_state->trace.back();
    bool ok = false;
    *done = 0;
    if (!misuse && fault == nullptr) {
        ok = transfer(size);
    } else if (!misuse && fault->short_to != NO_SHORT) {
        ok = transfer(std::min(size, fault->short_to));
    }
    entry.done = *done;
    return ok;
}

bool faulty_read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done) {
    const Fault* fault = nullptr;
    const bool misuse = enter_on(PlatformCall::read, file, size, false, &fault) == nullptr;
    return faulty_transfer(fault, misuse, size, done, [&](std::uint32_t n) {
        return g_state->native->read(file, buffer, n, done);
    });
}

// The temporary file goes by the name of the file it is to replace.
PlatformFile faulty_create_temp(const char* beside, char* name, std::size_t name_size) {
    const std::string target = beside != nullptr ? beside : "";
    if (enter(PlatformCall::create_temp, target, 0) != nullptr) {
        if (name_size > 0) name[0] = '\0';
        return NO_FILE;
    }
    return opened(g_state->native->create_temp(beside, name, name_size), target, true);
}

bool faulty_write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done) {
    const Fault* fault = nullptr;
    const bool misuse = enter_on(PlatformCall::write, file, size, true, &fault) == nullptr;
    return faulty_transfer(fault, misuse, size, done, [&](std::uint32_t n) {
        return g_state->native->write(file, data, n, done);
    });
}

// Counted and failed like every call, but never sent to the disk: the tests
// see no difference, and a flush per file would make the fault matrix's
// hundreds of batches wait on the disk (seconds under Wine).
bool faulty_flush(PlatformFile file) {
    const Fault* fault = nullptr;
    return enter_on(PlatformCall::flush, file, 0, true, &fault) != nullptr && fault == nullptr;
}

bool faulty_close(PlatformFile file) {
    const OpenFile* open = file_of(file);
    const Fault* fault = enter(PlatformCall::close, open != nullptr ? open->path : std::string(), 0,
                               open != nullptr ? open->number : 0);
    if (open == nullptr) {
        g_state->misuses.push_back("close of a file not open");
        return false;
    }
    g_state->files.erase(file);
    const bool closed = g_state->native->close(file);
    return fault == nullptr && closed;
}

bool faulty_remove(const char* path) {
    if (enter(PlatformCall::remove, path != nullptr ? path : "", 0) != nullptr) return false;
    return g_state->native->remove_file(path);
}

ReplaceResult faulty_replace(const char* from, const char* to) {
    const Fault* fault = enter(PlatformCall::replace, to != nullptr ? to : "", 0);
    if (fault != nullptr) return fault->refuse ? REPLACE_REFUSED : REPLACE_FAILED;
    return g_state->native->replace_file(from, to);
}

bool faulty_look_up(const char* path, NameInfo* info) {
    const Fault* fault = enter(PlatformCall::look_up, path != nullptr ? path : "", 0);
    if (fault == nullptr) return g_state->native->look_up(path, info);
    if (!fault->refuse) return false;
    *info = NameInfo{};
    info->kind = NAME_REGULAR;
    info->read_only = true;
    std::snprintf(info->target, sizeof info->target, "%s", path);
    return true;
}

// A planned fault has no words of the system: it is named as what it is.
std::size_t faulty_take_error_text(char* text, std::size_t size) {
    if (!g_state->injected) return g_state->native->take_error_text(text, size);
    g_state->injected = false;
    g_state->native->take_error_text(nullptr, 0);
    if (text == nullptr || size == 0) return 0;
    const int length = std::snprintf(text, size, "%s", "injected failure");
    return std::min(static_cast<std::size_t>(length), size - 1);
}

bool faulty_lead_byte(unsigned char byte) {
    ++g_state->counts[static_cast<int>(PlatformCall::lead_byte)];
    return g_state->lead(byte);
}

}  // namespace

FaultyPlatform::FaultyPlatform() {
    if (g_state != nullptr) {
        ADD_FAILURE() << "a FaultyPlatform is already installed";
        return;
    }
    g_state = new FaultState;
    g_state->native = &platform_native();
    g_state->lead = g_state->native->is_lead_byte;
    PlatformOps& ops = g_state->ops;
    ops.alloc_block = faulty_alloc;
    ops.free_block = faulty_free;
    ops.open_read = faulty_open_read;
    ops.file_size = faulty_file_size;
    ops.read = faulty_read;
    ops.create_temp = faulty_create_temp;
    ops.write = faulty_write;
    ops.flush = faulty_flush;
    ops.close = faulty_close;
    ops.remove_file = faulty_remove;
    ops.replace_file = faulty_replace;
    ops.look_up = faulty_look_up;
    ops.is_lead_byte = faulty_lead_byte;
    ops.path_fits = g_state->native->path_fits;
    ops.take_error_text = faulty_take_error_text;
    ops.character_to_cp932 = g_state->native->character_to_cp932;
    ops.windows_paths = g_state->native->windows_paths;
    platform_install(&g_state->ops);
}

FaultyPlatform::~FaultyPlatform() {
    platform_install(nullptr);
    delete g_state;
    g_state = nullptr;
}

void FaultyPlatform::add_fault(const Fault& fault) { g_state->faults.push_back(PlannedFault{fault, 0}); }
void FaultyPlatform::clear_faults() { g_state->faults.clear(); }

void FaultyPlatform::set_lead_byte(bool (*is_lead_byte)(unsigned char)) {
    g_state->lead = is_lead_byte != nullptr ? is_lead_byte : g_state->native->is_lead_byte;
}

void FaultyPlatform::set_windows_paths(bool windows_paths) { g_state->ops.windows_paths = windows_paths; }

void FaultyPlatform::reset_counts() {
    g_state->counts.fill(0);
    g_state->trace.clear();
    g_state->applied = 0;
}

int FaultyPlatform::calls(PlatformCall call) const { return g_state->counts[static_cast<int>(call)]; }

int FaultyPlatform::calls_on(PlatformCall call, const std::string& path_part) const {
    return static_cast<int>(std::count_if(g_state->trace.begin(), g_state->trace.end(),
                                          [&](const TraceEntry& entry) {
                                              return entry.call == call &&
                                                     entry.path.find(path_part) != std::string::npos;
                                          }));
}

int FaultyPlatform::faults_applied() const { return g_state->applied; }
const std::vector<TraceEntry>& FaultyPlatform::trace() const { return g_state->trace; }
std::size_t FaultyPlatform::live_blocks() const { return g_state->blocks.size(); }

std::size_t FaultyPlatform::live_bytes() const {
    std::size_t total = 0;
    for (const auto& block : g_state->blocks) total += block.second;
    return total;
}

std::size_t FaultyPlatform::open_files() const { return g_state->files.size(); }

std::vector<std::string> FaultyPlatform::open_paths() const {
    std::vector<std::string> paths;
    for (const auto& file : g_state->files) paths.push_back(file.second.path);
    return paths;
}

const std::vector<std::string>& FaultyPlatform::misuses() const { return g_state->misuses; }

}  // namespace m2q_test
