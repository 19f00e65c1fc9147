// The seam between the conversion core and the operating system.
//
// The core reaches files, memory and the code page only through the table
// returned by platform(). Paths are bytes in the system's encoding: the
// locale's on POSIX, UTF-8 on Windows, where the table converts them to
// UTF-16 for the wide calls. The native table (POSIX or Win32) is active by
// default; tests install their own table to count calls or to make any
// single operation fail.
#ifndef MELNO2QUAZ_PLATFORM_H
#define MELNO2QUAZ_PLATFORM_H

#include <cstddef>
#include <cstdint>

// An open file: a POSIX descriptor or a Win32 HANDLE.
using PlatformFile = std::intptr_t;
constexpr PlatformFile NO_FILE = -1;

// Room for a temporary name, and for the path a name leads to: at least
// an output name (OUTPUT_PATH_SIZE bytes).
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
    // The path the name leads to once symbolic links are followed; the
    // name itself when it is no link.
    char target[TEMP_PATH_SIZE];
};

struct PlatformOps {
    // A block of `size` bytes, or null. The caller fills it before anything
    // looks at it, so it need not be cleared (POSIX leaves it as it comes;
    // Windows clears it all the same).
    void* (*alloc_block)(std::size_t size);
    // Frees a block from alloc_block; null is ignored.
    void (*free_block)(void* block);

    // Opens an existing regular file for reading, excluding other openers
    // where the platform can. A name that is no regular file (a folder, a
    // FIFO, a device) is not opened at all. NO_FILE on failure.
    PlatformFile (*open_read)(const char* path);
    // The open file's size, all 64 bits of it; 0 when it cannot be told.
    std::uint64_t (*file_size)(PlatformFile file);
    // Reads up to `size` bytes; `*done` gets the count. False on an error.
    bool (*read)(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done);

    // Creates a new, empty file under a fresh temporary name in the folder
    // of `beside` (a file path; its folder may be the current one) and opens
    // it for binary writing. `name` (TEMP_PATH_SIZE bytes) receives the
    // temporary name, which starts with TEMP_NAME_MARK. NO_FILE when the
    // folder cannot take a new file (missing, not a folder, no permission,
    // read-only file system, name too long). When `beside` is a regular
    // file, the new one takes its permissions (POSIX: its mode, its access
    // control list and, for root, its owner and group; Windows: its hidden,
    // system, archive and not-indexed attributes), so the file that
    // replaces it keeps them. Otherwise, where `like` names a regular file
    // (the source of a new save), a POSIX file takes its permission bits
    // less the umask, as a copy does: a private source gives a private
    // save. `like` may be null.
    PlatformFile (*create_temp)(const char* beside, const char* like, char* name,
                                std::size_t name_size);
    // Writes `size` bytes; `*done` gets the count. False on an error.
    bool (*write)(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done);
    // Makes the bytes written so far durable on the disk. False on an error.
    bool (*flush)(PlatformFile file);

    // Closes a file from open_read or create_temp. False on an error.
    bool (*close)(PlatformFile file);
    // Deletes a file. False on an error.
    bool (*remove_file)(const char* path);
    // Puts the closed file `from` in place of `to` in one step, replacing
    // what `to` held; `to` never holds anything in between, and the new
    // name is made durable where the system can. `from` stays where it was
    // unless the result is REPLACE_DONE.
    ReplaceResult (*replace_file)(const char* from, const char* to);
    // Tells what `path` names, following symbolic links. False when it
    // cannot be told (a folder on the way cannot be searched, an I/O
    // error). A link that loops, leads to a path longer than
    // NameInfo::target holds, or is another user's in a folder where
    // everyone may create names but only owners delete them (/tmp), is
    // NAME_OTHER: it is not followed; so is a link that leads nowhere
    // unless it is this user's own.
    bool (*look_up)(const char* path, NameInfo* info);
    // The path of the file `path` names, spelled as the system means it,
    // into `meant` (`size` bytes): on Windows the last component without
    // the dots and spaces Windows drops from its end, and in its long form
    // when it is an 8.3 short name ("MY_L~QDX.PSU"); the folder part as
    // given. On POSIX, the path as given. False only when it does not fit.
    bool (*meant_path)(const char* path, char* meant, std::size_t size);

    // True when `byte` starts a double-byte character of the paths'
    // encoding (Shift-JIS locales); never for UTF-8.
    bool (*is_lead_byte)(unsigned char byte);
    // True when the system's file calls take `path`: at most PATH_LIMIT
    // bytes on POSIX, PATH_LIMIT UTF-16 units on Windows. Reads no byte
    // past its terminator nor past PATH_SIZE bytes.
    bool (*path_fits)(const char* path);

    // The system's words for why the latest failed operation of this table
    // failed ("No such file or directory"), written into `text` (`size`
    // bytes, always terminated) and then forgotten, so the next call
    // describes only a later failure. Returns the text's length; 0 and an
    // empty text when nothing failed since the last call. A null `text`
    // only forgets.
    std::size_t (*take_error_text)(char* text, std::size_t size);
    // Converts the one character of the system's path encoding at `text`
    // (`left` bytes from there, at least 1) into code page 932: puts at
    // most 2 bytes into `out` and returns how many; 0 when the bytes are no
    // character or the character has no code page 932 form. `*taken` gets
    // how many bytes of `text` the character spans, at least 1 (1 where no
    // character starts). Where paths are code page 932 already (Shift-JIS
    // locales) the character is copied. Whole paths go through
    // path_to_cp932 (code_page.h), which copies ASCII itself.
    std::size_t (*character_to_cp932)(const char* text, std::size_t left, char* out,
                                      std::size_t* taken);
    // True where '\\' separates folders as well as '/' and "C:" names a
    // drive (Windows); false where only '/' separates folders (POSIX).
    bool windows_paths;
};

// The table of `Calls`, a type that has every operation above as a static
// function of the same name. Each table (the native one, and the tests'
// in-memory and fault-injecting ones) is built here, so a new operation is
// one line more in this list, not one in every table.
template <typename Calls>
PlatformOps platform_ops_of(bool windows_paths)
{
    return PlatformOps{
        Calls::alloc_block,  Calls::free_block,  Calls::open_read,       Calls::file_size,
        Calls::read,         Calls::create_temp, Calls::write,           Calls::flush,
        Calls::close,        Calls::remove_file, Calls::replace_file,    Calls::look_up,
        Calls::meant_path,
        Calls::is_lead_byte, Calls::path_fits,   Calls::take_error_text, Calls::character_to_cp932,
        windows_paths,
    };
}

// What the core is doing when it calls the table. The core names each step
// before its calls, so that a table standing in for the system (the tests'
// logging and fault-injecting one) can tell every call by what it was for.
// The native tables never look at it. The core runs one batch at a time.
enum CallPurpose : int {
    PURPOSE_NONE = 0,
    PURPOSE_BATCH_TABLE,      // the batch's table of its files
    PURPOSE_SOURCE_LIST,      // each source looked up as the batch starts
    PURPOSE_REPORT_NAME,      // what report.txt leads to, as the batch starts
    PURPOSE_SOURCE,           // a source loaded: its block, opening, size, read, close
    PURPOSE_OUTPUT_OWNER,     // the source looked up as its output is named
    PURPOSE_OUTPUT_NAME,      // a candidate output name (and its folder) looked up
    PURPOSE_OUTPUT,           // an output written: its temporary file to the replace
    PURPOSE_WRITTEN_IDENTITY, // a written temporary file looked up before the replace
    PURPOSE_REPORT,           // the report written: its temporary file to the replace
    PURPOSE_REPORT_CHECK,     // what report.txt leads to, before the report replaces it
    PURPOSE_CHECK,            // a target read by --check
};
constexpr int CALL_PURPOSES = PURPOSE_CHECK + 1;

CallPurpose platform_purpose();

// Names the core's step for the calls made while it lives, and names the
// step around it again when it goes.
class PurposeScope {
public:
    explicit PurposeScope(CallPurpose purpose);
    ~PurposeScope();
    PurposeScope(const PurposeScope&) = delete;
    PurposeScope& operator=(const PurposeScope&) = delete;

private:
    CallPurpose previous_;
};

// The table in use.
const PlatformOps& platform();
// The operating system's own table.
const PlatformOps& platform_native();
// Replaces the table in use; null restores the native one. The table must
// outlive its use.
void platform_install(const PlatformOps* ops);

#endif
