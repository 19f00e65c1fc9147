// The operating system's operations, one static function per entry of
// PlatformOps (core/platform.h, where each is described). One backend
// defines them: core/platform_posix.cpp or core/platform_win32.cpp,
// whichever the build compiles; platform_native() makes the table of them.
#ifndef MELNO2QUAZ_SYSTEM_CALLS_H
#define MELNO2QUAZ_SYSTEM_CALLS_H

#include <cstddef>
#include <cstdint>

#include "platform.h"

struct SystemCalls {
    static void* alloc_block(std::size_t size);
    static void free_block(void* block);

    static PlatformFile open_read(const char* path);
    static std::uint64_t file_size(PlatformFile file);
    static bool read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done);

    static PlatformFile create_temp(const char* beside, const char* like, char* name,
                                    std::size_t name_size);
    static bool write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done);
    static bool flush(PlatformFile file);
    static bool keep_temp(PlatformFile file, const char* name);

    static bool close(PlatformFile file);
    static bool remove_file(const char* path);
    static ReplaceResult replace_file(const char* from, const char* to);
    static bool look_up(const char* path, NameInfo* info);
    static bool meant_path(const char* path, char* meant, std::size_t size);

    static bool is_lead_byte(unsigned char byte);
    static bool path_fits(const char* path);

    static std::size_t take_error_text(char* text, std::size_t size);
    static std::size_t character_to_cp932(const char* text, std::size_t left, char* out,
                                          std::size_t* taken);

    static const bool windows_paths;
};

#endif
