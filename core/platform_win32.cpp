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

// A movable, zero-filled block, locked for as long as the caller keeps it.
void* win32_alloc_zeroed(std::size_t size)
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

// Created or truncated, binary; other programs may go on reading and
// writing the file.
PlatformFile win32_create_write(const char* path)
{
    return from_handle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    win32_alloc_zeroed, win32_free_block, win32_open_read,   win32_size_low, win32_read,
    win32_create_write, win32_write,      win32_close,       win32_remove_file,
    win32_is_lead_byte, win32_take_error_text, win32_path_to_cp932, true,
};

}  // namespace

const PlatformOps& platform_native()
{
    return WIN32_OPS;
}
