// The Win32 platform layer under the real system calls: the ANSI code page's
// lead bytes, output names beside Shift-JIS sources, exclusive opening,
// sharing of written files, movable memory, and the fault seam over the
// Win32 table. Files are made and checked through the wide (W) interfaces
// and the texts through the system's own code page 932 conversion, so that
// the narrow paths the core handles are checked by an independent route.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "code_page.h"
#include "melno2quaz.h"
#include "output_name.h"
#include "platform.h"
#include "result_codes.h"
#include "source_save.h"
#include "target_save.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string cp932(const std::wstring& wide)
{
    const int length = WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
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
    // The narrow path the core is given, in code page 932.
    std::string narrow(const std::wstring& name) const { return cp932((path_ / name).wstring()); }

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

TEST(Win32CodePage, LeadBytesAreThoseOfCodePage932)
{
    ASSERT_EQ(GetACP(), 932u) << "run with a Japanese locale (LC_ALL=ja_JP.UTF-8 under Wine)";
    int lead_bytes = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const bool lead = platform_native().is_lead_byte(static_cast<unsigned char>(byte));
        EXPECT_EQ(lead, cp932_is_lead_byte(static_cast<unsigned char>(byte))) << "byte " << byte;
        lead_bytes += lead ? 1 : 0;
    }
    EXPECT_EQ(lead_bytes, (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1));
}

TEST(Win32Naming, SecondByte5CNeverSplitsTheName)
{
    ASSERT_EQ(GetACP(), 932u);
    Win32Folder folder;
    // 表 is 95 5C and ソ is 83 5C: their second byte is the backslash.
    ASSERT_TRUE(CreateDirectoryW(folder.wide(L"\u30bd").c_str(), nullptr));
    ASSERT_TRUE(make_file(folder.wide(L"\u8868.psu"), SOURCE_SIZE));
    ASSERT_TRUE(make_file(folder.wide(L"\u30bd\\\u30bd.psu"), SOURCE_SIZE));
    ASSERT_EQ(cp932(L"\u8868"), "\x95\x5C");

    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(folder.narrow(L"\u8868.psu").c_str(), message), CONVERT_OK);
    EXPECT_EQ(convert_file(folder.narrow(L"\u30bd\\\u30bd.psu").c_str(), message), CONVERT_OK);

    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_\u8868.dat")), TARGET_SIZE);
    EXPECT_EQ(size_on_disk(folder.wide(L"\u30bd\\gamedata_\u30bd.dat")), TARGET_SIZE);

    PathParts parts;
    split_path(cp932(L"C:\\\u30bd\u30d5\u30c8\\\u8868.psu").c_str(), &parts);
    EXPECT_STREQ(parts.drive, "C:");
    EXPECT_EQ(std::string(parts.directory), cp932(L"\\\u30bd\u30d5\u30c8\\"));
    EXPECT_EQ(std::string(parts.base_name), cp932(L"\u8868"));
    EXPECT_STREQ(parts.extension, ".psu");
}

TEST(Win32Exclusive, SourceHeldOpenElsewhereIsNoSource)
{
    Win32Folder folder;
    const fs::path source = folder.wide(L"city.psu");
    ASSERT_TRUE(make_file(source, SOURCE_SIZE));

    // Another program reads the file and lets others read and write it.
    HANDLE other = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), ERR_NOT_SOURCE);
    EXPECT_STREQ(message, result_text(ERR_NOT_SOURCE));
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), -1);
    CloseHandle(other);

    EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), CONVERT_OK);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), TARGET_SIZE);
}

TEST(Win32Exclusive, OpenSourceKeepsOtherOpenersOut)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
    const PlatformFile file = platform_native().open_read(folder.narrow(L"city.psu").c_str());
    ASSERT_NE(file, NO_FILE);
    HANDLE other = CreateFileW(folder.wide(L"city.psu").c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    }
    EXPECT_TRUE(platform_native().close(file));
}

TEST(Win32Exclusive, FolderAndMissingFileCannotBeOpened)
{
    Win32Folder folder;
    ASSERT_TRUE(CreateDirectoryW(folder.wide(L"saves.psu").c_str(), nullptr));
    EXPECT_EQ(platform_native().open_read(folder.narrow(L"saves.psu").c_str()), NO_FILE);
    EXPECT_EQ(platform_native().open_read(folder.narrow(L"missing.psu").c_str()), NO_FILE);
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(folder.narrow(L"saves.psu").c_str(), message), ERR_NOT_SOURCE);
    EXPECT_EQ(size_on_disk(folder.wide(L"missing.psu")), -1) << "opening must never create";
}

// A read-only file, a folder and a file held open without sharing are
// never replaced: the next numbered name is taken, and each keeps what it
// held. No temporary file is left.
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

    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), CONVERT_OK) << message;
    CloseHandle(held);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city_3.dat")), TARGET_SIZE);
    SetFileAttributesW(folder.wide(L"gamedata_city.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), 10);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city_2.dat")), 20);
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder.wide(L""))) {
        EXPECT_NE(entry.path().filename().wstring().rfind(L".m2q-", 0), 0u) << "temporary file left";
        ++entries;
    }
    EXPECT_EQ(entries, 5u);
}

TEST(Win32Files, OnlyTheLowPartOfTheSizeCounts)
{
    Win32Folder folder;
    const fs::path source = folder.wide(L"huge.psu");
    // 2^32 + SOURCE_SIZE bytes, sparse: only the low 32 bits are compared.
    if (!make_file(source, (LONGLONG{1} << 32) + SOURCE_SIZE)) {
        GTEST_SKIP() << "no room for a 4 GiB sparse file here";
    }
    char message[MESSAGE_SIZE];
    EXPECT_EQ(convert_file(folder.narrow(L"huge.psu").c_str(), message), CONVERT_OK);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_huge.dat")), TARGET_SIZE);
}

TEST(Win32Memory, BlocksAreMovableAndLocked)
{
    auto* block = static_cast<unsigned char*>(platform_native().alloc_block(SOURCE_SIZE));
    ASSERT_NE(block, nullptr);
    HGLOBAL memory = GlobalHandle(block);
    ASSERT_NE(memory, nullptr);
    EXPECT_NE(static_cast<void*>(memory), static_cast<void*>(block)) << "a movable block";
    EXPECT_EQ(GlobalFlags(memory) & GMEM_LOCKCOUNT, 1u);
    EXPECT_EQ(GlobalSize(memory), SOURCE_SIZE);
    platform_native().free_block(block);
    platform_native().free_block(nullptr);
}

// A read that delivers less than asked for, and a write that stops short,
// through the fault-injecting table over the Win32 one.
TEST(Win32Faults, ShortReadAndShortWriteAreReportedAndLeaveNoOutput)
{
    Win32Folder folder;
    ASSERT_TRUE(make_file(folder.wide(L"city.psu"), SOURCE_SIZE));
    char message[MESSAGE_SIZE];
    {
        m2q_test::FaultyPlatform os;
        m2q_test::Fault fault = m2q_test::fault_on(m2q_test::PlatformCall::read);
        fault.short_to = SOURCE_SIZE / 2;
        os.add_fault(fault);
        EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), ERR_READ_SOURCE);
        EXPECT_EQ(os.faults_applied(), 1);
        EXPECT_STREQ(message, result_text(ERR_READ_SOURCE));
    }
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), -1);
    {
        m2q_test::FaultyPlatform os;
        m2q_test::Fault fault = m2q_test::fault_on(m2q_test::PlatformCall::write);
        fault.short_to = TARGET_SIZE / 2;
        os.add_fault(fault);
        EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), ERR_WRITE_TARGET);
        EXPECT_EQ(os.faults_applied(), 1);
        EXPECT_STREQ(message, result_text(ERR_WRITE_TARGET));
    }
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), -1) << "a torn save is deleted";
    EXPECT_EQ(convert_file(folder.narrow(L"city.psu").c_str(), message), CONVERT_OK);
    EXPECT_EQ(size_on_disk(folder.wide(L"gamedata_city.dat")), TARGET_SIZE);
}

}  // namespace

#endif  // _WIN32
