// The Win32 side of the platform seam: file handles, movable global memory
// and the lead bytes of the system's ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// GetLastError of the latest failed operation, or 0 when nothing failed
// since take_error_text last asked.
DWORD last_failure = 0;

void note_failure()
{
    const DWORD error = GetLastError();
    last_failure = error != 0 ? error : ERROR_GEN_FAILURE;
}

HANDLE to_handle(PlatformFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

PlatformFile from_handle(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        note_failure();
        return NO_FILE;
    }
    return reinterpret_cast<PlatformFile>(handle);
}

// A movable, zero-initialised block, locked for as long as the caller
// keeps it. The zeroing stays on Windows although the caller fills the
// block: without it, a read into a fresh block stalled the 32-bit program
// under Wine on emulated x86.
void* win32_alloc_block(std::size_t size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (memory == nullptr) {
        return nullptr;
    }
    void* block = GlobalLock(memory);
    if (block == nullptr) {
        GlobalFree(memory);
    }
    return block;
}

void win32_free_block(void* block)
{
    if (block == nullptr) {
        return;
    }
    HGLOBAL memory = GlobalHandle(block);
    if (memory == nullptr) {
        return;
    }
    GlobalUnlock(memory);
    GlobalFree(memory);
}

// Read access with no sharing: while a save is being loaded nobody else may
// open it, and a file someone else holds open cannot be loaded. Without
// FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all.
PlatformFile win32_open_read(const char* path)
{
    return from_handle(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The high part of the size is deliberately not asked for.
std::uint32_t win32_size_low(PlatformFile file)
{
    const DWORD low = GetFileSize(to_handle(file), nullptr);
    return static_cast<std::uint32_t>(low);
}

bool win32_read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done)
{
    DWORD got = 0;
    const BOOL ok = ReadFile(to_handle(file), buffer, size, &got, nullptr);
    if (ok == FALSE) {
        note_failure();
    }
    *done = static_cast<std::uint32_t>(got);
    return ok != FALSE;
}

// The folder part of `path`, separator included ("" for the current
// folder), read by characters of the ANSI code page so that the second byte
// of a double-byte character is never taken for a separator.
std::size_t folder_length(const char* path)
{
    std::size_t folder = 0;
    for (std::size_t at = 0; path[at] != '\0';) {
        const char c = path[at];
        if (c == '\\' || c == '/' || (at == 1 && c == ':')) {
            folder = at + 1;
        }
        at += IsDBCSLeadByte(static_cast<BYTE>(c)) && path[at + 1] != '\0' ? 2 : 1;
    }
    return folder;
}

// A new file under a fresh name beside `beside`; creation is exclusive, so
// a clash with another process only costs another try. Other programs may
// read it while it is written.
PlatformFile win32_create_temp(const char* beside, char* name, std::size_t name_size)
{
    static unsigned counter = 0;
    const std::size_t folder = folder_length(beside);
    for (int attempt = 0; attempt < 100; ++attempt) {
        LARGE_INTEGER ticks{};
        QueryPerformanceCounter(&ticks);
        DWORD mix = GetCurrentProcessId() * 2654435761u ^ static_cast<DWORD>(ticks.QuadPart) ^
                    (++counter * 40503u);
        mix ^= mix >> 15;
        const int length = std::snprintf(name, name_size, "%.*s%s%08lx.tmp", static_cast<int>(folder),
                                         beside, TEMP_NAME_MARK, static_cast<unsigned long>(mix));
        if (length < 0 || static_cast<std::size_t>(length) >= name_size) {
            break;
        }
        const HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return from_handle(file);
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            note_failure();
            break;
        }
    }
    if (name_size > 0) {
        name[0] = '\0';
    }
    return NO_FILE;
}

bool win32_write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done)
{
    DWORD put = 0;
    const BOOL ok = WriteFile(to_handle(file), data, size, &put, nullptr);
    if (ok == FALSE) {
        note_failure();
    }
    *done = static_cast<std::uint32_t>(put);
    return ok != FALSE;
}

bool win32_flush(PlatformFile file)
{
    if (FlushFileBuffers(to_handle(file)) == FALSE) {
        note_failure();
        return false;
    }
    return true;
}

bool win32_close(PlatformFile file)
{
    if (CloseHandle(to_handle(file)) == FALSE) {
        note_failure();
        return false;
    }
    return true;
}

bool win32_remove_file(const char* path)
{
    if (DeleteFileA(path) == FALSE) {
        note_failure();
        return false;
    }
    return true;
}

// A file held open by a program that does not share it for deleting, or a
// folder, refuses the replace; so does a read-only file.
ReplaceResult win32_replace_file(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return REPLACE_DONE;
    }
    note_failure();
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return REPLACE_REFUSED;
    default:
        return REPLACE_FAILED;
    }
}

// Links are not followed here: a name that is a reparse point (a symbolic
// link or a junction) counts as NAME_OTHER and is left alone.
bool win32_look_up(const char* path, NameInfo* info)
{
    *info = NameInfo{};
    if (std::snprintf(info->target, sizeof info->target, "%s", path) >=
        static_cast<int>(sizeof info->target)) {
        info->kind = NAME_OTHER;
        return true;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            info->kind = NAME_ABSENT;
            return true;
        case ERROR_SHARING_VIOLATION:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            info->kind = NAME_OTHER;
            return true;
        default:
            note_failure();
            return false;
        }
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        info->kind = NAME_OTHER;
        return true;
    }
    info->read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    // Asking only to read attributes opens even a file held open without
    // sharing (sharing governs data access), and never blocks on a device.
    const HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        info->kind = NAME_OTHER;  // held in a way that refuses even this
        return true;
    }
    BY_HANDLE_FILE_INFORMATION found{};
    const bool known = GetFileType(file) == FILE_TYPE_DISK &&
                       GetFileInformationByHandle(file, &found) != FALSE;
    CloseHandle(file);
    if (!known) {
        info->kind = NAME_OTHER;  // a device such as NUL or COM1
        return true;
    }
    info->kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? NAME_FOLDER : NAME_REGULAR;
    info->identity = FileIdentity{found.dwVolumeSerialNumber,
                                  (static_cast<std::uint64_t>(found.nFileIndexHigh) << 32) |
                                      found.nFileIndexLow};
    return true;
}

// The system's ANSI code page decides (932 on Japanese systems).
bool win32_is_lead_byte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

// The system's message for the error, in the ANSI code page, without the
// line end FormatMessageA puts after it.
std::size_t win32_take_error_text(char* text, std::size_t size)
{
    const DWORD failure = last_failure;
    last_failure = 0;
    if (text == nullptr || size == 0) {
        return 0;
    }
    text[0] = '\0';
    if (failure == 0) {
        return 0;
    }
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, failure, 0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(text, size, "Error %lu", static_cast<unsigned long>(failure));
        return std::strlen(text);
    }
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    return length;
}

// Paths are in the ANSI code page already: the bytes go in as they are.
std::size_t win32_path_to_cp932(const char** text, std::size_t* left, char* out, std::size_t size)
{
    const std::size_t n = *left < size ? *left : size;
    std::memcpy(out, *text, n);
    *text += n;
    *left -= n;
    return n;
}

const PlatformOps WIN32_OPS = {
    win32_alloc_block, win32_free_block,  win32_open_read, win32_size_low,
    win32_read,        win32_create_temp, win32_write,     win32_flush,
    win32_close,       win32_remove_file, win32_replace_file, win32_look_up,
    win32_is_lead_byte, win32_take_error_text, win32_path_to_cp932,
    true,
};

}  // namespace

const PlatformOps& platform_native()
{
    return WIN32_OPS;
}
