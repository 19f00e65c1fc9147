// The Win32 platform layer under the real system calls: names outside any
// one code page, the path limit in UTF-16 units, exclusive opening, sharing
// of written files and movable memory. (Short reads and writes over the
// Win32 table are rows of injected_failures_test.cpp, which runs on the
// disk for that reason.) Files are made and checked through the wide (W) interfaces and the
// report's paths through the system's own code page 932 conversion, so that
// the UTF-8 paths the core handles are checked by an independent route.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "platform.h"
#include "result_codes.h"
#include "source_save.h"
#include "target_save.h"
#include "test_support.h"
#include "wide_arguments.h"

namespace {

namespace fs = std::filesystem;

std::string in_code_page(const std::wstring& wide, UINT code_page)
{
    const int length = WideCharToMultiByte(code_page, 0, wide.c_str(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(),
                        length, nullptr, nullptr);
    return out;
}

std::string cp932(const std::wstring& wide) { return in_code_page(wide, 932); }
std::string utf8(const std::wstring& wide) { return in_code_page(wide, CP_UTF8); }

// A path as report.txt shows it.
std::string reported(const std::string& path)
{
    const char* text = path.c_str();
    std::size_t left = path.size();
    char out[REPORT_PIECE_SIZE];
    std::string shown;
    while (left > 0) {
        const std::size_t put = path_to_cp932(platform_native(), &text, &left, out, sizeof out);
        if (put == 0) {
            break;
        }
        shown.append(out, put);
    }
    return shown;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class Win32Folder {
public:
    Win32Folder()
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        for (unsigned serial = GetTickCount() & 0xFFFFu;; ++serial) {
            path_ = fs::path(temp) / (L"m2qw_" + std::to_wstring(serial));
            if (CreateDirectoryW(path_.c_str(), nullptr)) {
                break;
            }
        }
    }
    ~Win32Folder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Win32Folder(const Win32Folder&) = delete;
    Win32Folder& operator=(const Win32Folder&) = delete;

    fs::path wide(const std::wstring& name) const { return path_ / name; }
    // The narrow path the core is given, in UTF-8.
    std::string narrow(const std::wstring& name) const { return utf8((path_ / name).wstring()); }

private:
    fs::path path_;
};

// A file of `size` zero bytes (sparse where the file system allows).
bool make_file(const fs::path& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

LONGLONG size_on_disk(const fs::path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The owner, group and access list of a file, as SDDL.
std::wstring security_text(const std::wstring& path)
{
    constexpr SECURITY_INFORMATION WHAT =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), WHAT, nullptr, 0, &needed);
    std::vector<unsigned char> security(needed);
    LPWSTR text = nullptr;
    if (needed == 0 || !GetFileSecurityW(path.c_str(), WHAT, security.data(), needed, &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(security.data(), SDDL_REVISION_1, WHAT, &text,
                                                              nullptr)) {
        return L"(none)";
    }
    const std::wstring result = text;
    LocalFree(text);
    return result;
}

// The system's words for `error`, as take_error_text gives them.
std::string system_words(DWORD error)
{
    wchar_t wide[REASON_SIZE] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  error, 0, wide, REASON_SIZE, nullptr);
    while (length > 0 && (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' || wide[length - 1] == L' ')) {
        --length;
    }
    return utf8(std::wstring(wide, length));
}

// Every name Windows can give converts beside its source, whatever the
// ANSI code page; report.txt shows it in code page 932, '?' for each
// character that code page lacks. 表 and ソ end in the byte 0x5C in code
// page 932 and must never split a name.
TEST(Win32Names, NamesOfAnyScriptConvertAndAreReportedInCodePage932)
{
    struct Row {
        std::wstring name;
        std::string in_report;
    };
    const Row rows[] = {
        {L"\u5939\u5fc3", "?\x90S"},  // 夹心: 夹 has no CP932 form
        {L"Caf\u00e9", "Caf?"},                                       // Café
        {L"\u6771\u4eac", "\x93\x8C\x8B\x9E"},                      // 東京
        {L"\u8868", "\x95\x5C"},                                     // 表
        {L"\u30bd\\\u30bd", "\x83\x5C\\\x83\x5C"},                // ソ\ソ
    };
    Win32Folder folder;
    ASSERT_TRUE(CreateDirectoryW(folder.wide(L"\u30bd").c_str(), nullptr));
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.name));
        ASSERT_TRUE(make_file(folder.wide(row.name + L".psu"), SOURCE_SIZE));
        char message[MESSAGE_SIZE];
        EXPECT_EQ(convert_file(platform_native(), folder.narrow(row.name + L".psu").c_str(),
                  message), CONVERT_OK);
        const fs::path name(row.name);
        const fs::path output = folder.wide(name.parent_path() / (L"gamedata_" + name.filename().wstring() + L".dat"));
        EXPECT_EQ(size_on_disk(output), TARGET_SIZE);
        EXPECT_EQ(reported(folder.narrow(row.name + L".psu")),
                  cp932(folder.wide(L"").wstring()) + row.in_report + ".psu");
    }
    PathParts parts;
    split_path(platform_native(), utf8(L"C:\\\u30bd\u30d5\u30c8\\\u8868.psu").c_str(), &parts);
    EXPECT_STREQ(parts.drive, "C:");
    EXPECT_EQ(std::string(parts.directory), utf8(L"\\\u30bd\u30d5\u30c8\\"));
    EXPECT_EQ(std::string(parts.base_name), utf8(L"\u8868"));
    EXPECT_STREQ(parts.extension, ".psu");
}

// A source goes by the name Windows means: without the dots and spaces it
// drops from the end, and by its long name when given its 8.3 one. A path
// ending in "\." names no file (Windows would open the file before it).
// "city.psu.", "city.psu " and "city.psu\." are rows of the window
// harness, through the console program.
TEST(Win32Names, SourcesAreNamedAsWindowsMeansThem)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
    ASSERT_TRUE(make_file(folder.wide(L"my long city.psu"), SOURCE_SIZE));
    wchar_t short_path[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(folder.wide(L"my long city.psu").c_str(), short_path, MAX_PATH), 0u);
    const std::wstring short_name = fs::path(short_path).filename().wstring();
    ASSERT_NE(short_name, L"my long city.psu") << "no 8.3 name here";
    struct Row {
        std::wstring given;
        int32_t code;
        std::wstring output;  // or the reason's error
        DWORD error;
    };
    const Row rows[] = {
        {L"CITY.PSU. .", CONVERT_OK, L"gamedata_city.dat", 0},
        {short_name, CONVERT_OK, L"gamedata_my long city.dat", 0},
        {short_name + L".", CONVERT_OK, L"gamedata_my long city.dat", 0},
        {L"city.psu/.", ERR_NOT_SOURCE, L"", ERROR_FILE_NOT_FOUND},
        {L"city.psu\\. ", ERR_NOT_SOURCE, L"", ERROR_FILE_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.given));
        char message[MESSAGE_SIZE];
        FileOutcome outcome{};
        EXPECT_EQ(convert_file(platform_native(), folder.narrow(row.given).c_str(), message,
                  &outcome), row.code);
        EXPECT_EQ(std::string(outcome.output), row.output.empty() ? "" : folder.narrow(row.output));
        EXPECT_FALSE(outcome.numbered);
        EXPECT_EQ(outcome.reason, row.error != 0 ? system_words(row.error) : "");
    }
}

// A name that is no valid UTF-16 (a lone surrogate, which NTFS allows) is
// refused with its reason, never taken for another: b\uFFFD.psu, a save
// beside it, is not converted. Every way in takes names through
// utf8_path_list.
TEST(Win32Names, ALoneSurrogateIsRefusedNeverTakenForAnother)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"b\uFFFD.psu"), SOURCE_SIZE));
    const std::wstring lone = folder.wide(L"b").wstring() + L"\xDC00.psu";
    const wchar_t* names[] = {lone.c_str()};
    PathListOwner paths;
    ASSERT_TRUE(utf8_path_list(names, 1, &paths.list));
    char message[MESSAGE_SIZE];
    FileOutcome outcome{};
    EXPECT_EQ(convert_file(platform_native(), paths.list.paths[0], message, &outcome), ERR_NOT_SOURCE);
    EXPECT_STREQ(outcome.reason, "the name is not valid Unicode");
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_b\uFFFD.dat")), -1);
}

// The limit is Windows' own: 259 UTF-16 units, however many bytes the
// path takes in UTF-8. A temporary name is never longer than the name it
// becomes, so a save or report.txt whose path is exactly at the limit is
// written.
TEST(Win32Names, PathLimitIsCountedInUtf16UnitsAndTemporaryNamesFitWhereTheirFileDoes)
{
    Win32Folder folder;
    const std::size_t base = folder.wide(L"").wstring().size();
    auto path_of = [&](std::size_t units, wchar_t fill) {
        return std::wstring(units - base - 4, fill) + L".psu";
    };
    char message[MESSAGE_SIZE];
    // 240 units, 3 bytes each in UTF-8: far more than 259 bytes.
    ASSERT_TRUE(make_file(folder.wide(path_of(240, L'\u6771')), SOURCE_SIZE));
    ASSERT_GT(folder.narrow(path_of(240, L'\u6771')).size(), 600u);
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(path_of(240, L'\u6771')).c_str(),
              message), CONVERT_OK);
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(path_of(260, L'\u4eac')).c_str(),
              message), ERR_PATH_TOO_LONG);
    EXPECT_NE(convert_file(platform_native(), folder.narrow(path_of(259, L'\u4eac')).c_str(),
              message), ERR_PATH_TOO_LONG);

    // A save whose path is exactly 259 units, with a final name of 15.
    const std::wstring sub(MAX_PATH - 1 - base - 1 - 15, L'd');
    ASSERT_TRUE(CreateDirectoryW(folder.wide(sub).c_str(), nullptr));
    ASSERT_TRUE(make_file(folder.wide(sub + L"\\ab.psu"), SOURCE_SIZE));
    ASSERT_EQ(folder.wide(sub + L"\\gamedata_ab.dat").wstring().size(), MAX_PATH - 1u);
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(sub + L"\\ab.psu").c_str(), message),
              CONVERT_OK);
    EXPECT_EQ(size_on_disk(folder.wide(sub + L"\\gamedata_ab.dat")), TARGET_SIZE);

    // report.txt at exactly 259 units.
    const std::wstring here(MAX_PATH - 1 - base - 1 - 10, L'r');
    ASSERT_TRUE(CreateDirectoryW(folder.wide(here).c_str(), nullptr));
    BatchSummary summary{};
    process_dropped_files(platform_native(), nullptr, 0, folder.narrow(here).c_str(), nullptr,
                          nullptr, &summary);
    EXPECT_TRUE(summary.report_written);
    EXPECT_EQ(size_on_disk(folder.wide(here + L"\\report.txt")), 0);
}

// While the core reads a save, others may read it but not write, rename
// or delete it. (The console row "sources held open" of the window harness
// shows a save another program reads converted, and one it writes refused
// with the sharing violation as reason.)
TEST(Win32Exclusive, OpenSourceSharesOnlyReading)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
    const PlatformFile file = platform_native().open_read(platform_native().context,
                                              folder.narrow(L"city.psu").c_str());
    ASSERT_NE(file, NO_FILE);
    const auto opens = [&](DWORD access) {
        HANDLE other = CreateFileW(folder.wide(L"city.psu").c_str(), access,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = other == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
        }
        return error;
    };
    EXPECT_EQ(opens(GENERIC_READ), 0u);
    EXPECT_EQ(opens(GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(opens(DELETE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(platform_native().close(platform_native().context, file));
}

// Only a regular file is opened. A folder, a missing file, a DOS device by
// any name Windows gives it and a pipe are refused, each with its reason,
// and the pipe's server sees no client: nothing was opened. Names that only
// look like a device are files, and so is a device's name written after
// "\\?\". com¹.psu is a save on disk that Wine, unlike Windows, would open.
TEST(Win32Exclusive, OnlyRegularFilesCanBeOpened)
{
    Win32Folder folder;
    ASSERT_TRUE(CreateDirectoryW(folder.wide(L"saves.psu").c_str(), nullptr));
    const std::wstring literal = L"\\\\?\\" + folder.wide(L"com\u00b9.psu").wstring();
    ASSERT_TRUE(make_file(literal, SOURCE_SIZE));
    for (const wchar_t* name : {L"nullity.psu", L"COM10.psu", L"CONOUT.psu", L"con_city.psu"}) {
        ASSERT_TRUE(make_file(folder.wide(name), 3));
    }
    const std::wstring pipe_name = L"m2q-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(GetTickCount());
    HANDLE pipe = CreateNamedPipeW((L"\\\\.\\pipe\\" + pipe_name).c_str(),
                                   PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 0, 0,
                                   0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    OVERLAPPED waiting{};
    waiting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(ConnectNamedPipe(pipe, &waiting));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    struct Row {
        std::string path;
        DWORD refused_as;  // 0: opened
    };
    std::vector<Row> rows = {
        {folder.narrow(L"saves.psu"), ERROR_ACCESS_DENIED},
        {folder.narrow(L"missing.psu"), ERROR_FILE_NOT_FOUND},
        {folder.narrow(L"NUL"), ERROR_BAD_DEVICE},
        {folder.narrow(L"nul.psu"), ERROR_BAD_DEVICE},
        {folder.narrow(L"COM1"), ERROR_BAD_DEVICE},
        {folder.narrow(L"com1.TXT"), ERROR_BAD_DEVICE},
        {folder.narrow(L"con . psu"), ERROR_BAD_DEVICE},
        {folder.narrow(L"lpt9.a.b"), ERROR_BAD_DEVICE},
        {folder.narrow(L"CONOUT$.psu"), ERROR_BAD_DEVICE},
        {folder.narrow(L"Aux:"), ERROR_BAD_DEVICE},
        {folder.narrow(L"com\u00b9.psu"), ERROR_BAD_DEVICE},
        {utf8(L"\\\\.\\pipe\\" + pipe_name), ERROR_BAD_DEVICE},
        {utf8(L"//./pipe/" + pipe_name), ERROR_BAD_DEVICE},
        {utf8(L"\\\\?\\pipe\\" + pipe_name), ERROR_BAD_DEVICE},
        {utf8(L"\\\\localhost\\PIPE\\" + pipe_name), ERROR_BAD_DEVICE},
        {"\\\\.\\C:", ERROR_BAD_DEVICE},
        {utf8(L"\\\\.\\" + folder.wide(L"nullity.psu").wstring()), ERROR_BAD_DEVICE},
        {folder.narrow(L"nullity.psu"), 0},
        {folder.narrow(L"COM10.psu"), 0},
        {folder.narrow(L"CONOUT.psu"), 0},
        {folder.narrow(L"con_city.psu"), 0},
        {utf8(literal), 0},
    };
    if (GetFileAttributesW(L"Z:\\dev") != INVALID_FILE_ATTRIBUTES) {
        rows.push_back({"Z:\\dev\\zero", ERROR_BAD_DEVICE});  // Wine's way to a POSIX device
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        platform_native().take_error_text(platform_native().context, nullptr, 0);
        const PlatformFile file = platform_native().open_read(platform_native().context, row.path.c_str());
        char reason[REASON_SIZE];
        platform_native().take_error_text(platform_native().context, reason, sizeof reason);
        if (row.refused_as == 0) {
            EXPECT_NE(file, NO_FILE);
            EXPECT_TRUE(file == NO_FILE || platform_native().close(platform_native().context, file));
        } else {
            EXPECT_EQ(file, NO_FILE);
            EXPECT_EQ(reason, system_words(row.refused_as));
        }
    }
    EXPECT_EQ(WaitForSingleObject(waiting.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "a client connected to the pipe";
    CancelIo(pipe);
    CloseHandle(pipe);
    CloseHandle(waiting.hEvent);

    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"saves.psu").c_str(), message),
              ERR_NOT_SOURCE);
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"com\u00b9.psu").c_str(), message),
              ERR_NOT_SOURCE);
    EXPECT_EQ(size_on_disk(folder.wide(L"missing.psu")), -1) << "opening must never create";
    DeleteFileW(literal.c_str());
}

// A read-only file, a folder, a file held open without sharing and a Melno
// save are never replaced: the next numbered name is taken, and each keeps
// what it held (the read-only file its attribute too). No temporary file
// is left.
// A hidden save is replaced and stays hidden.
TEST(Win32Files, NamesThatRefuseTheReplacePassTheTurnToTheNextNumber)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
    ASSERT_TRUE(make_file(folder.wide(L"gamedata_city.dat"), 10));
    ASSERT_TRUE(SetFileAttributesW(folder.wide(L"gamedata_city.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW(folder.wide(L"gamedata_city_1.dat").c_str(), nullptr));
    ASSERT_TRUE(make_file(folder.wide(L"gamedata_city_2.dat"), 20));
    HANDLE held = CreateFileW(folder.wide(L"gamedata_city_2.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(make_file(folder.wide(L"gamedata_city_3.dat"), SOURCE_SIZE));

    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"city.psu").c_str(), message),
              CONVERT_OK) << message;
    CloseHandle(held);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city_3.dat")), SOURCE_SIZE);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city_4.dat")), TARGET_SIZE);
    EXPECT_NE(GetFileAttributesW(folder.wide(L"gamedata_city.dat").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesW(folder.wide(L"gamedata_city.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), 10);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city_2.dat")), 20);
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.wide(L""))) {
        EXPECT_NE(entry.path().filename().wstring().rfind(L".m2q-", 0), 0u) << "temporary file left";
        ++entries;
    }
    EXPECT_EQ(entries, 6u);

    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(make_file(folder.wide(L"town.psu"), SOURCE_SIZE));
    ASSERT_TRUE(make_file(folder.wide(L"gamedata_town.dat"), 10));
    ASSERT_TRUE(SetFileAttributesW(folder.wide(L"gamedata_town.dat").c_str(), hidden));
    if (GetFileAttributesW(folder.wide(L"gamedata_town.dat").c_str()) != hidden) {
        GTEST_SKIP() << "this file system does not keep the hidden attribute";
    }
    // Its creation time and security descriptor are the old file's too: an
    // access list for its owner alone (under Wine, which keeps the list as
    // the file's mode, mode 0600) instead of what a new file gets.
    const std::wstring town = folder.wide(L"gamedata_town.dat").wstring();
    const std::wstring before = security_text(town);
    const std::wstring owner = before.substr(2, before.find(L"G:") - 2);
    const std::wstring private_list = L"D:P(A;;FA;;;" + owner + L")";
    PSECURITY_DESCRIPTOR given = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(private_list.c_str(), SDDL_REVISION_1, &given,
                                                                     nullptr));
    EXPECT_TRUE(SetFileSecurityW(town.c_str(), DACL_SECURITY_INFORMATION, given));
    LocalFree(given);
    const FILETIME created{0x12345678u, 0x01C00000u};  // in 2001
    HANDLE old = CreateFileW(town.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(old, &created, nullptr, nullptr));
    CloseHandle(old);
    const auto created_in_2001 = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return GetFileAttributesExW(town.c_str(), GetFileExInfoStandard, &data) &&
               CompareFileTime(&data.ftCreationTime, &created) == 0;
    };
    const bool creation_kept = created_in_2001();  // Wine keeps no creation time a program sets
    const std::wstring security = security_text(town);
    EXPECT_NE(security, before) << "the access list did not take";

    EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"town.psu").c_str(), message),
              CONVERT_OK) << message;
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_town.dat")), TARGET_SIZE);
    EXPECT_EQ(GetFileAttributesW(folder.wide(L"gamedata_town.dat").c_str()), hidden);
    EXPECT_EQ(utf8(security_text(town)), utf8(security));
    EXPECT_EQ(created_in_2001(), creation_kept);
}

// A replace refused for a moment (a scanner's look at the old save) is
// tried again and takes the plain name; a save held for longer than about
// two seconds passes the turn to the next number and keeps its bytes.
TEST(Win32Files, AReplaceRefusedForAMomentIsTriedAgain)
{
    struct Row {
        DWORD held_ms;
        const wchar_t* output;
        LONGLONG old_save_size;
    };
    for (const Row& row : {Row{300, L"gamedata_city.dat", TARGET_SIZE}, Row{4000, L"gamedata_city_1.dat", 10}}) {
        SCOPED_TRACE(row.held_ms);
        Win32Folder folder;
        ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
        ASSERT_TRUE(make_file(folder.wide(L"gamedata_city.dat"), 10));
        HANDLE held = CreateFileW(folder.wide(L"gamedata_city.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread release([&] {
            Sleep(row.held_ms);
            CloseHandle(held);
        });
        char message[MESSAGE_SIZE];
        FileOutcome outcome{};
        EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"city.psu").c_str(), message,
                  &outcome), CONVERT_OK) << message;
        release.join();
        EXPECT_EQ(std::string(outcome.output), folder.narrow(row.output));
        EXPECT_EQ(size_on_disk(folder.wide(row.output)), TARGET_SIZE);
        EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), row.old_save_size);
    }
}

// A temporary file is the system's to remove until it is whole: closed
// (or its process ended) before keep_temp, it is gone; kept, it stays.
TEST(Win32Files, ATemporaryFileStaysOnlyOnceKept)
{
    Win32Folder folder;
    const PlatformOps& os = platform_native();
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept);
        char name[TEMP_PATH_SIZE];
        const PlatformFile file =
            os.create_temp(os.context, folder.narrow(L"report.txt").c_str(), nullptr, name, sizeof name);
        ASSERT_NE(file, NO_FILE);
        std::uint32_t done = 0;
        EXPECT_TRUE(os.write(os.context, file, "whole", 5, &done));
        EXPECT_TRUE(os.flush(os.context, file));
        if (kept) {
            EXPECT_TRUE(os.keep_temp(os.context, file, name));
        }
        EXPECT_TRUE(os.close(os.context, file));
        EXPECT_EQ(size_on_disk(fs::u8path(name)), kept ? 5 : -1) << name;
        EXPECT_TRUE(os.remove_file(os.context, name)) << "a name that holds nothing is removed already";
    }
}

// A full drive takes part of the bytes, then refuses the rest: the write
// goes on after the short count and says why. The stage mounts a small
// drive for this (M2Q_SMALL_FOLDER); its console row shows the reason.
TEST(Win32Files, AFullDriveSaysWhy)
{
    const char* small = std::getenv("M2Q_SMALL_FOLDER");
    if (small == nullptr) {
        GTEST_SKIP() << "no small drive (M2Q_SMALL_FOLDER)";
    }
    const fs::path path = fs::u8path(std::string(small) + "\\city.dat");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::vector<unsigned char> image(TARGET_SIZE, 0x5A);
    std::uint32_t done = 0;
    EXPECT_FALSE(platform_native().write(platform_native().context, reinterpret_cast<PlatformFile>(file),
                 image.data(), TARGET_SIZE, &done));
    char reason[REASON_SIZE];
    platform_native().take_error_text(platform_native().context, reason, sizeof reason);
    EXPECT_EQ(reason, system_words(ERROR_DISK_FULL));
    EXPECT_GT(done, 0u) << "the drive took nothing: no short count was seen";
    EXPECT_LT(done, TARGET_SIZE);
    CloseHandle(file);
    DeleteFileW(path.c_str());
}

TEST(Win32Files, TheHighPartOfTheSizeCounts)
{
    Win32Folder folder;
    const fs::path source = folder.wide(L"huge.psu");
    // 2^32 + SOURCE_SIZE bytes, sparse: its low 32 bits alone look like a save.
    if (!make_file(source, (LONGLONG{1} << 32) + SOURCE_SIZE)) {
        GTEST_SKIP() << "no room for a 4 GiB sparse file here";
    }
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(platform_native(), folder.narrow(L"huge.psu").c_str(), message),
              ERR_NOT_SOURCE);
    EXPECT_FALSE(fs::exists(folder.wide(L"gamedata_huge.dat")));
}

TEST(Win32Memory, BlocksAreMovableAndLocked)
{
    auto* block = static_cast<unsigned char*>(platform_native().alloc_block(platform_native().context, SOURCE_SIZE));
    ASSERT_NE(block, nullptr);
    HGLOBAL memory = GlobalHandle(block);
    ASSERT_NE(memory, nullptr);
    EXPECT_NE(static_cast<void*>(memory), static_cast<void*>(block)) << "a movable block";
    EXPECT_EQ(GlobalFlags(memory) & GMEM_LOCKCOUNT, 1u);
    EXPECT_EQ(GlobalSize(memory), SOURCE_SIZE);
    platform_native().free_block(platform_native().context, block);
    platform_native().free_block(platform_native().context, nullptr);
}

}  // namespace

#endif  // _WIN32
