// The seam between the conversion core and the operating system.
//
// The core reaches files, memory and the code page only through a table its
// caller hands it, and hands that table on to whatever it calls. Paths are
// bytes in the system's encoding: the locale's on POSIX, UTF-8 on Windows,
// where the table converts them to UTF-16 for the wide calls. The front
// ends pass the native table (POSIX or Win32); the page passes the
// in-memory one; tests pass their own to count calls or to make any single
// operation fail. Every operation gets the table's `context`, where a table
// keeps its state (the native ones: the last failure, the converters, the
// temporary-name counter), so tables never share state.
#ifndef MELNO2QUAZ_PLATFORM_H
#define MELNO2QUAZ_PLATFORM_H

#include <cstddef>
#include <cstdint>

// The longest path the system's file calls take, in its own units: bytes
// on POSIX, UTF-16 units on Windows (MAX_PATH less the terminator).
constexpr std::size_t PATH_LIMIT = 259;
// A path with its terminator: PATH_LIMIT UTF-16 units take at most 3
// bytes each in UTF-8.
constexpr std::size_t PATH_SIZE = 3 * PATH_LIMIT + 1;

// An open file: a POSIX descriptor or a Win32 HANDLE.
using PlatformFile = std::intptr_t;
constexpr PlatformFile NO_FILE = -1;

// Room for a temporary name, and for the path a name leads to: at least
// an output name (the core's OUTPUT_PATH_SIZE bytes).
constexpr std::size_t TEMP_PATH_SIZE = 832;
// Every temporary name is this mark and five hex digits: ten characters, no
// more than report.txt or any output name, so a temporary file fits
// wherever the file it becomes fits. No save or report is ever named so.
constexpr char TEMP_NAME_MARK[] = ".m2q-";

enum ReplaceResult : int {
    REPLACE_DONE = 0,
    REPLACE_REFUSED = 1,  // `to` cannot be replaced: a folder, held open
                          // without sharing, another user's in a sticky folder
    REPLACE_FAILED = 2,   // anything else: the disk, the folder
};

// What a name leads to.
enum NameKind : int {
    NAME_ABSENT = 0,   // nothing (the folder itself may be missing too)
    NAME_REGULAR = 1,  // a regular file
    NAME_FOLDER = 2,
    NAME_OTHER = 3,    // a FIFO, device, socket, or a link not followed
};

// Which file a name is, whatever the path: the same pair means the same
// file (a hard link, a symbolic link, another spelling of the path).
struct FileIdentity {
    std::uint64_t device;
    std::uint64_t index;
};

inline bool same_file(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.index == b.index;
}

struct NameInfo {
    NameKind kind;
    // No write permission bits (the read-only attribute on Windows), or
    // this user may not write the file.
    bool read_only;
    // Regular files and folders only.
    FileIdentity identity;
    // Regular files only: the size in bytes.
    std::uint64_t size;
    // The path the name leads to once symbolic links are followed; the
    // name itself when it is no link.
    char target[TEMP_PATH_SIZE];
};

struct PlatformOps {
    // The table's own state, handed to every operation; null for the
    // native tables.
    void* context;

    // A block of `size` bytes, or null. The caller fills it before anything
    // looks at it, so it need not be cleared (POSIX leaves it as it comes;
    // Windows clears it all the same).
    void* (*alloc_block)(void* context, std::size_t size);
    // Frees a block from alloc_block; null is ignored.
    void (*free_block)(void* context, void* block);

    // Opens an existing regular file for reading, excluding other openers
    // where the platform can. A name that is no regular file (a folder, a
    // FIFO, a device) is not opened at all. NO_FILE on failure.
    PlatformFile (*open_read)(void* context, const char* path);
    // The open file's size, all 64 bits of it; 0 when it cannot be told.
    std::uint64_t (*file_size)(void* context, PlatformFile file);
    // Reads up to `size` bytes; `*done` gets the count. False on an error.
    bool (*read)(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                 std::uint32_t* done);

    // Creates a new, empty file for a temporary name in the folder of
    // `beside` (a file path; its folder may be the current one) and opens it
    // for binary writing. `name` (TEMP_PATH_SIZE bytes) receives the
    // temporary name, which starts with TEMP_NAME_MARK. Where the system
    // can, the file has no name until keep_temp gives it this one (Linux),
    // or is removed by the system should the process end first (Windows),
    // so a killed run leaves nothing behind. NO_FILE when the folder cannot
    // take a new file (missing, not a folder, no permission, read-only file
    // system, name too long).
    // What the file lets others do is never more than what `like` (the
    // source of a save; null for the report) lets them: the permission bits
    // are those of `beside` when it is a regular file (the file to be
    // replaced) or a new file's (less the umask), and of `like`; `like`'s
    // access control list, else `beside`'s, is kept within them; a group
    // that is not `like`'s gets no more than `like` gives to others. Run by
    // root, the file belongs to the owner and group of `beside`, else of
    // `like`. `beside`'s other user attributes are kept. On Windows the file
    // takes `beside`'s hidden, system, archive and not-indexed attributes.
    PlatformFile (*create_temp)(void* context, const char* beside, const char* like, char* name,
                                std::size_t name_size);
    // Writes `size` bytes; `*done` gets the count. False on an error.
    bool (*write)(void* context, PlatformFile file, const void* data, std::uint32_t size,
                  std::uint32_t* done);
    // Makes the bytes written so far durable on the disk. False on an error.
    bool (*flush)(void* context, PlatformFile file);
    // Keeps the whole, flushed file `file` from create_temp under the
    // temporary name `name` it was made for, once it is closed: gives it the
    // name where it had none, or stops the system removing it. False on an
    // error (the file is then gone when closed).
    bool (*keep_temp)(void* context, PlatformFile file, const char* name);

    // Closes a file from open_read or create_temp. False on an error.
    bool (*close)(void* context, PlatformFile file);
    // Deletes a file; a name that holds none already is no error. False on
    // an error.
    bool (*remove_file)(void* context, const char* path);
    // Puts the closed file `from` in place of `to` in one step, replacing
    // what `to` held; `to` never holds anything in between, and the new
    // name is made durable where the system can. `from` stays where it was
    // unless the result is REPLACE_DONE.
    ReplaceResult (*replace_file)(void* context, const char* from, const char* to);
    // Tells what `path` names, following symbolic links. False when it
    // cannot be told (a folder on the way cannot be searched, an I/O
    // error). A link that loops, leads to a path longer than
    // NameInfo::target holds, or is another user's in a folder where
    // everyone may create names but only owners delete them (/tmp), is
    // NAME_OTHER: it is not followed; so is a link that leads nowhere
    // unless it is this user's own.
    bool (*look_up)(void* context, const char* path, NameInfo* info);
    // The path of the file `path` names, spelled as the system means it,
    // into `meant` (`size` bytes): on Windows the last component without
    // the dots and spaces Windows drops from its end, and in its long form
    // when it is an 8.3 short name ("MY_L~QDX.PSU"); the folder part as
    // given. On POSIX, the path as given. False only when it does not fit.
    bool (*meant_path)(void* context, const char* path, char* meant, std::size_t size);

    // True when `byte` starts a double-byte character of the paths'
    // encoding (Shift-JIS locales); never for UTF-8.
    bool (*is_lead_byte)(void* context, unsigned char byte);
    // True when the system's file calls take `path`: at most PATH_LIMIT
    // bytes on POSIX, PATH_LIMIT UTF-16 units on Windows. Reads no byte
    // past its terminator nor past PATH_SIZE bytes.
    bool (*path_fits)(void* context, const char* path);

    // The system's words for why the latest failed operation of this table
    // failed ("No such file or directory"), written into `text` (`size`
    // bytes, always terminated) and then forgotten, so the next call
    // describes only a later failure. Returns the text's length; 0 and an
    // empty text when nothing failed since the last call. A null `text`
    // only forgets.
    std::size_t (*take_error_text)(void* context, char* text, std::size_t size);
    // Converts the one character of the system's path encoding at `text`
    // (`left` bytes from there, at least 1) into code page 932: puts at
    // most 2 bytes into `out` and returns how many; 0 when the bytes are no
    // character or the character has no code page 932 form. `*taken` gets
    // how many bytes of `text` the character spans, at least 1 (1 where no
    // character starts). Where paths are code page 932 already (Shift-JIS
    // locales) the character is copied. Whole paths go through
    // path_to_cp932 (code_page.h), which copies ASCII itself.
    std::size_t (*character_to_cp932)(void* context, const char* text, std::size_t left, char* out,
                                      std::size_t* taken);
    // True where '\\' separates folders as well as '/' and "C:" names a
    // drive (Windows); false where only '/' separates folders (POSIX).
    bool windows_paths;
};

// A function that takes the context, as it is.
template <auto Function>
struct WithContext {
    static constexpr auto call = Function;
};

// The table of `Calls`, a type that has every operation above as a static
// function of the same name, each bound by `Bind` (WithContext). Every table (the native ones, the in-memory one and the
// tests' fault-injecting one) is built here, so a new operation is one line
// more in this list, not one in every table.
template <template <auto> class Bind, typename Calls>
PlatformOps platform_ops_bound(void* context, bool windows_paths)
{
    return PlatformOps{
        context,
        Bind<Calls::alloc_block>::call,  Bind<Calls::free_block>::call,
        Bind<Calls::open_read>::call,    Bind<Calls::file_size>::call,
        Bind<Calls::read>::call,         Bind<Calls::create_temp>::call,
        Bind<Calls::write>::call,        Bind<Calls::flush>::call,
        Bind<Calls::keep_temp>::call,
        Bind<Calls::close>::call,        Bind<Calls::remove_file>::call,
        Bind<Calls::replace_file>::call, Bind<Calls::look_up>::call,
        Bind<Calls::meant_path>::call,   Bind<Calls::is_lead_byte>::call,
        Bind<Calls::path_fits>::call,    Bind<Calls::take_error_text>::call,
        Bind<Calls::character_to_cp932>::call,
        windows_paths,
    };
}

// The table of a `Calls` whose functions take `context` first.
template <typename Calls>
PlatformOps platform_ops_with(void* context, bool windows_paths)
{
    return platform_ops_bound<WithContext, Calls>(context, windows_paths);
}

// The operating system's own table for the calling thread: each thread has
// one of its own, with its own state, so batches on two threads never mix
// their error texts.
const PlatformOps& platform_native();

#endif
