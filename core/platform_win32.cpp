// The Win32 side of the platform seam: file handles, movable global memory
// and the lead bytes of the system's ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform.h"

namespace {

HANDLE to_handle(PlatformFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

PlatformFile from_handle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<PlatformFile>(handle);
}

// A movable block, locked for as long as the caller keeps it.
void* locked_global_block(UINT flags, std::size_t size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | flags, size);
    if (memory == nullptr) {
        return nullptr;
    }
    void* block = GlobalLock(memory);
    if (block == nullptr) {
        GlobalFree(memory);
    }
    return block;
}

void* win32_alloc_zeroed(std::size_t size)
{
    return locked_global_block(GMEM_ZEROINIT, size);
}

// Not zero-initialised: the caller fills it.
void* win32_alloc_block(std::size_t size)
{
    return locked_global_block(0, size);
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
    *done = static_cast<std::uint32_t>(put);
    return ok != FALSE;
}

bool win32_close(PlatformFile file)
{
    return CloseHandle(to_handle(file)) != FALSE;
}

bool win32_remove_file(const char* path)
{
    return DeleteFileA(path) != FALSE;
}

// The system's ANSI code page decides (932 on Japanese systems).
bool win32_is_lead_byte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

const PlatformOps WIN32_OPS = {
    win32_alloc_zeroed, win32_free_block, win32_open_read,   win32_size_low, win32_read,
    win32_create_write, win32_write,      win32_close,       win32_remove_file,
    win32_is_lead_byte, win32_alloc_block,
};

}  // namespace

const PlatformOps& platform_native()
{
    return WIN32_OPS;
}
