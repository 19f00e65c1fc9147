// The operating system's operations, one static function per entry of
// PlatformOps (platform/platform.h, where each is described), each taking
// the table's context first: the NativeState below. One backend defines
// them: platform/platform_posix.cpp or platform/platform_win32.cpp,
// whichever the build compiles; platform_native() makes the table of them.
#ifndef MELNO2QUAZ_SYSTEM_CALLS_H
#define MELNO2QUAZ_SYSTEM_CALLS_H

#include <cstddef>
#include <cstdint>

#include "cp932_encoder.h"
#include "platform.h"

// What the system's table keeps from one call to the next, as its context:
// a table of its own for each batch (platform_native() gives each thread
// one), so batches on two threads never mix their error texts.
struct NativeState {
    NativeState() = default;
    ~NativeState();  // closes the converters
    NativeState(const NativeState&) = delete;
    NativeState& operator=(const NativeState&) = delete;

    // Why the latest failed operation failed: the system's error number,
    // or a negative number of the backend's own; 0 when nothing failed
    // since take_error_text last asked.
    long last_failure = 0;
    // Counts the temporary names this table made (temp_name_mix).
    std::uint32_t temp_names = 0;
    // POSIX: the locale's codeset to UTF-32 (an iconv descriptor;
    // NO_CONVERTER until opened on first use) and the codeset it reads;
    // code points to code page 932.
    char codeset[64] = "";
    void* decode = NO_CONVERTER;
    Cp932Encoder encoder;
    static inline void* const NO_CONVERTER = reinterpret_cast<void*>(-1);
};

struct SystemCalls {
    static void* alloc_block(void* context, std::size_t size);
    static void free_block(void* context, void* block);

    static PlatformFile open_read(void* context, const char* path);
    static std::uint64_t file_size(void* context, PlatformFile file);
    static bool read(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                     std::uint32_t* done);

    static PlatformFile create_temp(void* context, const char* beside, const char* like, char* name,
                                    std::size_t name_size);
    static bool write(void* context, PlatformFile file, const void* data, std::uint32_t size,
                      std::uint32_t* done);
    static bool flush(void* context, PlatformFile file);
    static bool keep_temp(void* context, PlatformFile file, const char* name);

    static bool close(void* context, PlatformFile file);
    static bool remove_file(void* context, const char* path);
    static ReplaceResult replace_file(void* context, const char* from, const char* to);
    static bool look_up(void* context, const char* path, NameInfo* info);
    static bool meant_path(void* context, const char* path, char* meant, std::size_t size);

    static bool is_lead_byte(void* context, unsigned char byte);
    static bool path_fits(void* context, const char* path);

    static std::size_t take_error_text(void* context, char* text, std::size_t size);
    static std::size_t character_to_cp932(void* context, const char* text, std::size_t left,
                                          char* out, std::size_t* taken);

    static const bool windows_paths;
};

// The state of a table of SystemCalls.
inline NativeState& native_state(void* context)
{
    return *static_cast<NativeState*>(context);
}

#endif
