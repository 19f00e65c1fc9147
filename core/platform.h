// The seam between the conversion core and the operating system.
//
// The core reaches files, memory and the code page only through the table
// returned by platform(). The native table (POSIX or Win32) is active by
// default; tests install their own table to count calls or to make any
// single operation fail.
#ifndef MELNO2QUAZ_PLATFORM_H
#define MELNO2QUAZ_PLATFORM_H

#include <cstddef>
#include <cstdint>

// An open file: a POSIX descriptor or a Win32 HANDLE.
using PlatformFile = std::intptr_t;
constexpr PlatformFile NO_FILE = -1;

struct PlatformOps {
    // A zero-filled block of `size` bytes, or null.
    void* (*alloc_zeroed)(std::size_t size);
    // Frees a block from alloc_zeroed; null is ignored.
    void (*free_block)(void* block);

    // Opens an existing regular file for reading, excluding other openers
    // where the platform can. NO_FILE on failure (also for folders).
    PlatformFile (*open_read)(const char* path);
    // The low 32 bits of the open file's size.
    std::uint32_t (*size_low)(PlatformFile file);
    // Reads up to `size` bytes; `*done` gets the count. False on an error.
    bool (*read)(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done);

    // Creates or truncates a file for binary writing; others may still read
    // and write it. NO_FILE on failure.
    PlatformFile (*create_write)(const char* path);
    // Writes `size` bytes; `*done` gets the count. False on an error.
    bool (*write)(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done);

    // Closes a file from open_read or create_write. False on an error.
    bool (*close)(PlatformFile file);
    // Deletes a file. False on an error.
    bool (*remove_file)(const char* path);

    // True when `byte` starts a double-byte character of the ANSI code page.
    bool (*is_lead_byte)(unsigned char byte);

    // The system's words for why the latest failed operation of this table
    // failed ("No such file or directory"), written into `text` (`size`
    // bytes, always terminated) and then forgotten, so the next call
    // describes only a later failure. Returns the text's length; 0 and an
    // empty text when nothing failed since the last call. A null `text`
    // only forgets.
    std::size_t (*take_error_text)(char* text, std::size_t size);
    // Converts a path of the system's encoding into code page 932 for
    // report.txt, as far as `size` bytes of `out` reach and never stopping
    // inside a character: advances `*text` and `*left` past what it
    // converted and returns the bytes put into `out` (no terminator). Bytes
    // that are no character and characters with no code page 932 form
    // become '?'. Where paths are code page 932 already (Windows, and
    // Shift-JIS locales) the bytes are copied. With `size` of 2 or more it
    // always takes at least one byte.
    std::size_t (*path_to_cp932)(const char** text, std::size_t* left, char* out, std::size_t size);
    // True where '\\' separates folders as well as '/' and "C:" names a
    // drive (Windows); false where only '/' separates folders (POSIX).
    bool windows_paths;
};

// The table in use.
const PlatformOps& platform();
// The operating system's own table.
const PlatformOps& platform_native();
// Replaces the table in use; null restores the native one. The table must
// outlive its use.
void platform_install(const PlatformOps* ops);

#endif
