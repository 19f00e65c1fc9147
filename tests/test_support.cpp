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
    case ERR_STOPPED: return u8"一括変換が中止されたため、変換しませんでした。\r\n";
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

}  // namespace m2q_test
