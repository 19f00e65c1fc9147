// The Win32 side of the platform seam: file handles and movable global
// memory. The core's paths are UTF-8; every file call is the wide one, so
// any name Windows can give works whatever the ANSI code page is.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "code_page.h"
#include "platform.h"
#include "system_calls.h"
#include "temp_name.h"

namespace {

// Notes GetLastError as why the latest failed operation failed.
void note_failure(NativeState& s)
{
    const DWORD error = GetLastError();
    s.last_failure = static_cast<long>(error != 0 ? error : ERROR_GEN_FAILURE);
}

HANDLE to_handle(PlatformFile file)
{
    return reinterpret_cast<HANDLE>(file);
}

PlatformFile from_handle(NativeState& s, HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        note_failure(s);
        return NO_FILE;
    }
    return reinterpret_cast<PlatformFile>(handle);
}

// A path for the wide calls: MAX_PATH units with the terminator.
using WidePath = std::array<wchar_t, MAX_PATH>;

// Why a name was refused that holds a lone surrogate (kept by the wide
// names' conversion as the three bytes UTF-8 would give it): an error
// number of the program's own (bit 29).
constexpr DWORD NOT_UNICODE = 0x20000001;

bool holds_lone_surrogate(const char* path, std::size_t length)
{
    for (std::size_t at = 0; at + 1 < length; ++at) {
        const auto byte = static_cast<unsigned char>(path[at]);
        const auto next = static_cast<unsigned char>(path[at + 1]);
        if (byte == 0xED && next >= 0xA0 && next <= 0xBF) {
            return true;
        }
    }
    return false;
}

// Converts a UTF-8 path; false (with the reason noted) when it is no UTF-8
// or longer than the calls take, or names no file Windows could have for
// holding a lone surrogate: such a name is never taken for another.
bool to_wide(NativeState& s, const char* path, WidePath* wide)
{
    const std::size_t length = strnlen(path, TEMP_PATH_SIZE);
    if (holds_lone_surrogate(path, length)) {
        SetLastError(NOT_UNICODE);
        note_failure(s);
        return false;
    }
    if (length == 0) {
        (*wide)[0] = L'\0';
        return true;
    }
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path,
                                          static_cast<int>(length), wide->data(),
                                          static_cast<int>(wide->size() - 1));
    if (units <= 0) {
        SetLastError(GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE
                                                                 : ERROR_INVALID_NAME);
        note_failure(s);
        return false;
    }
    (*wide)[static_cast<std::size_t>(units)] = L'\0';
    return true;
}

}  // namespace

// A movable, zero-initialised block, locked for as long as the caller
// keeps it. The zeroing stays on Windows although the caller fills the
// block: without it, a read into a fresh block stalled the 32-bit program
// under Wine on emulated x86.
void* SystemCalls::alloc_block(void*, std::size_t size)
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

void SystemCalls::free_block(void*, void* block)
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

namespace {

bool is_separator(char c)
{
    return c == '\\' || c == '/';
}

char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when `text` starts with `word` (upper case ASCII), in any case.
bool starts_with_word(const char* text, const char* word)
{
    for (; *word != '\0'; ++text, ++word) {
        if (ascii_upper(*text) != *word) {
            return false;  // also at the end of `text`
        }
    }
    return true;
}

// The first `length` bytes of `text` are `word` (upper case ASCII), in any case.
bool is_word(const char* text, std::size_t length, const char* word)
{
    return std::strlen(word) == length && starts_with_word(text, word);
}

// Paths that leave the file system for the object namespace: "\\.\" (a
// pipe, a mailslot, a volume, any device) and "\\?\" or "\??\" before
// anything but a drive ("\\?\C:\") or a share ("\\?\UNC\"), either slash.
bool in_device_namespace(const char* path)
{
    if (!is_separator(path[0])) {
        return false;
    }
    if (is_separator(path[1]) && path[2] == '.' && is_separator(path[3])) {
        return true;
    }
    if (!((is_separator(path[1]) || path[1] == '?') && path[2] == '?' && is_separator(path[3]))) {
        return false;
    }
    const char* rest = path + 4;
    const bool drive = ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z')) &&
                       rest[1] == ':' && is_separator(rest[2]);
    return !drive && !(starts_with_word(rest, "UNC") && is_separator(rest[3]));
}

// "\\server\pipe\name" (or "\\?\UNC\server\pipe\name") is a named pipe on
// that server: the share PIPE is no folder on any server.
bool names_remote_pipe(const char* path)
{
    const char* rest = nullptr;
    if (is_separator(path[0]) && is_separator(path[1]) && path[2] == '?' &&
        is_separator(path[3]) && starts_with_word(path + 4, "UNC") && is_separator(path[7])) {
        rest = path + 8;
    } else if (is_separator(path[0]) && is_separator(path[1])) {
        rest = path + 2;
    } else {
        return false;
    }
    while (*rest != '\0' && !is_separator(*rest)) {
        ++rest;  // the server
    }
    if (*rest == '\0') {
        return false;
    }
    ++rest;
    return starts_with_word(rest, "PIPE") && (rest[4] == '\0' || is_separator(rest[4]));
}

// "\\?\" (or "\??\") before a path: Windows takes the rest as written,
// without dropping dots or spaces or minding device names.
bool literal_path(const char* path)
{
    return path[0] == '\\' && (path[1] == '\\' || path[1] == '?') && path[2] == '?' &&
           path[3] == '\\';
}

// True when Windows opens the last component of `path` as a DOS device in
// whatever folder it stands: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to
// COM9 and LPT1 to LPT9 (the superscripts ¹ ² ³ count as digits), in any
// case. Windows first drops trailing dots and spaces from the component,
// then ends the name at its first '.' or ':' and drops the spaces before
// that, so "nul.psu", "COM1.txt", "con . psu", "aux:" and "lpt9.a.b" are
// the devices too, while "nullity.psu" and "COM10" are files. Not every
// version of Windows goes as far (some open a name with an extension as a
// file); the wider rule is kept, as no such file can be made where the
// device is meant, so refusing it loses nothing.
bool is_device_name(const char* path)
{
    if (literal_path(path)) {
        return false;  // "\\?\C:\nul" is taken as written: a file
    }
    const std::size_t length = strnlen(path, TEMP_PATH_SIZE);
    // The last component: "C:nul" is the device as well.
    const std::size_t start = folder_length(path, true);
    std::size_t end = length;
    while (end > start && (path[end - 1] == '.' || path[end - 1] == ' ')) {
        --end;
    }
    std::size_t stem = start;
    while (stem < end && path[stem] != '.' && path[stem] != ':') {
        ++stem;
    }
    while (stem > start && path[stem - 1] == ' ') {
        --stem;
    }
    const char* name = path + start;
    const std::size_t size = stem - start;
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (is_word(name, size, device)) {
            return true;
        }
    }
    if (size < 4 || !(starts_with_word(name, "COM") || starts_with_word(name, "LPT"))) {
        return false;
    }
    const auto digit = static_cast<unsigned char>(name[3]);
    const auto next = size == 5 ? static_cast<unsigned char>(name[4]) : 0;
    return (size == 4 && digit >= '1' && digit <= '9') ||
           (size == 5 && digit == 0xC2 && (next == 0xB9 || next == 0xB2 || next == 0xB3));
}

PlatformFile refuse_open(NativeState& s, DWORD error)
{
    SetLastError(error);
    note_failure(s);
    return NO_FILE;
}

}  // namespace

// Only a regular file is opened: a folder is no save, and opening a device
// can act on it (a pipe's writer loses what it sent to this reader), so a
// device, a pipe or a folder is refused by its name and attributes before
// anything opens it (the attributes of a pipe cannot be asked: asking
// connects to it), and by its handle afterwards. A device is refused as
// ERROR_BAD_DEVICE, a folder as ERROR_ACCESS_DENIED, which is what Windows
// itself says when asked to open a folder as a file.
//
// Read access sharing reading only: while a save is being loaded others
// may read it too (the game, an antivirus scanner), but nobody may write,
// rename or delete it; a file someone else holds open for writing cannot
// be loaded, and the sharing violation says why.
//
// "city.psu\." is city.psu to Windows, and "saves\.." the folder above: a
// last component of dots and spaces alone names no file of its own.
PlatformFile SystemCalls::open_read(void* context, const char* path)
{
    NativeState& s = native_state(context);
    if (in_device_namespace(path) || names_remote_pipe(path) || is_device_name(path)) {
        return refuse_open(s, ERROR_BAD_DEVICE);
    }
    const std::size_t component = folder_length(path, true);
    if (path[component + std::strspn(path + component, ". ")] == '\0') {
        return refuse_open(s, ERROR_FILE_NOT_FOUND);
    }
    WidePath wide;
    if (!to_wide(s, path, &wide)) {
        return NO_FILE;
    }
    // When the attributes cannot be told, opening tells why.
    const DWORD attributes = GetFileAttributesW(wide.data());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return refuse_open(s, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_ACCESS_DENIED
                                                                          : ERROR_BAD_DEVICE);
    }
    const HANDLE file = CreateFileW(wide.data(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        note_failure(s);
        return NO_FILE;
    }
    BY_HANDLE_FILE_INFORMATION found{};
    DWORD failure = 0;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        failure = ERROR_BAD_DEVICE;
    } else if (GetFileInformationByHandle(file, &found) == FALSE) {
        failure = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        failure = ERROR_ACCESS_DENIED;
    }
    if (failure != 0) {
        CloseHandle(file);
        return refuse_open(s, failure);
    }
    return from_handle(s, file);
}

std::uint64_t SystemCalls::file_size(void*, PlatformFile file)
{
    DWORD high = 0;
    const DWORD low = GetFileSize(to_handle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return 0;
    }
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool SystemCalls::read(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                       std::uint32_t* done)
{
    NativeState& s = native_state(context);
    DWORD got = 0;
    const BOOL ok = ReadFile(to_handle(file), buffer, size, &got, nullptr);
    if (ok == FALSE) {
        note_failure(s);
    }
    *done = static_cast<std::uint32_t>(got);
    return ok != FALSE;
}

namespace {

// The hidden, system, archive and not-content-indexed attributes of the
// file `beside`, for the file that replaces it; FILE_ATTRIBUTE_NORMAL when
// there is no such file (or it is a folder). A read-only file is never
// replaced, so that attribute is not taken.
DWORD attributes_to_keep(NativeState& s, const char* beside)
{
    constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const long noted = s.last_failure;
    WidePath wide;
    if (!to_wide(s, beside, &wide)) {
        s.last_failure = noted;  // no failure of create_temp's own
        return FILE_ATTRIBUTE_NORMAL;
    }
    const DWORD found = GetFileAttributesW(wide.data());
    if (found == INVALID_FILE_ATTRIBUTES || (found & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (found & KEPT) == 0) {
        return FILE_ATTRIBUTE_NORMAL;
    }
    return found & KEPT;
}

// Marks the open file `file` for deletion when its last handle closes, or
// takes the mark back.
bool mark_for_deletion(HANDLE file, bool marked)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = marked ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

}  // namespace

// A new file under a fresh name beside `beside`, with the attributes it
// keeps (a hidden save stays hidden once replaced); creation is exclusive,
// so a clash with another process only costs another try. Other programs
// may read it while it is written. It is marked for deletion until
// keep_temp takes the mark back, so the system removes it should the
// process end before it is whole; a file system that takes no mark keeps
// the file as it is.
PlatformFile SystemCalls::create_temp(void* context, const char* beside, const char*, char* name,
                                     std::size_t name_size)
{
    NativeState& s = native_state(context);
    const DWORD attributes = attributes_to_keep(s, beside);
    const auto create_new = [attributes, &s](const char* path, bool* taken) -> PlatformFile {
        WidePath wide;
        if (!to_wide(s, path, &wide)) {
            return NO_FILE;
        }
        const HANDLE file = CreateFileW(wide.data(), GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                        nullptr, CREATE_NEW, attributes, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            mark_for_deletion(file, true);
            return from_handle(s, file);
        }
        const DWORD error = GetLastError();
        *taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (!*taken) {
            note_failure(s);
        }
        return NO_FILE;
    };
    return create_under_temp_name(beside, true, GetCurrentProcessId(), &s.temp_names, name,
                                  name_size, create_new);
}

// A full drive takes part of the bytes and refuses the rest only when asked
// again: a short count is followed by another call, which tells why (error
// 112, "There is not enough space on the disk.").
bool SystemCalls::write(void* context, PlatformFile file, const void* data, std::uint32_t size,
                        std::uint32_t* done)
{
    NativeState& s = native_state(context);
    const auto* at = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    while (total < size) {
        DWORD put = 0;
        if (WriteFile(to_handle(file), at + total, size - total, &put, nullptr) == FALSE) {
            note_failure(s);
            *done = total;
            return false;
        }
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            note_failure(s);
            *done = total;
            return false;
        }
        total += static_cast<std::uint32_t>(put);
    }
    *done = total;
    return true;
}

bool SystemCalls::flush(void* context, PlatformFile file)
{
    NativeState& s = native_state(context);
    if (FlushFileBuffers(to_handle(file)) == FALSE) {
        note_failure(s);
        return false;
    }
    return true;
}

// The mark set by create_temp is taken back: the file stays once closed.
// Where no mark could be set, none is pending.
bool SystemCalls::keep_temp(void* context, PlatformFile file, const char*)
{
    NativeState& s = native_state(context);
    if (mark_for_deletion(to_handle(file), false)) {
        return true;
    }
    const DWORD error = GetLastError();
    FILE_STANDARD_INFO standard{};
    if (GetFileInformationByHandleEx(to_handle(file), FileStandardInfo, &standard,
                                     sizeof standard) != FALSE &&
        standard.DeletePending == FALSE) {
        return true;
    }
    SetLastError(error);
    note_failure(s);
    return false;
}

bool SystemCalls::close(void* context, PlatformFile file)
{
    NativeState& s = native_state(context);
    if (CloseHandle(to_handle(file)) == FALSE) {
        note_failure(s);
        return false;
    }
    return true;
}

bool SystemCalls::remove_file(void* context, const char* path)
{
    NativeState& s = native_state(context);
    WidePath wide;
    if (!to_wide(s, path, &wide)) {
        return false;
    }
    if (DeleteFileW(wide.data()) == FALSE && GetLastError() != ERROR_FILE_NOT_FOUND) {
        note_failure(s);
        return false;
    }
    return true;
}

namespace {

// Whether an error says the file system keeps no such thing (FAT on a USB
// stick keeps no security descriptor): then there is nothing to keep.
bool not_kept_there(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER;
}

// Gives the file `from` what the file `to` it is to replace was created
// with: its creation time, and its security descriptor (its access control
// list and group, and its owner where this user may set it), as an
// overwrite in place would have kept them. True when `to` is no file, or
// its file system keeps no such thing (there is nothing to keep); false,
// with the reason noted, when what it had cannot be given.
bool take_over_identity(NativeState& s, const wchar_t* from, const wchar_t* to)
{
    const HANDLE old = CreateFileW(to, FILE_READ_ATTRIBUTES | READ_CONTROL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (old == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;
        }
        note_failure(s);
        return false;
    }
    FILETIME created{};
    const bool timed = GetFileTime(old, &created, nullptr, nullptr) != FALSE;
    const DWORD time_error = timed ? 0 : GetLastError();
    constexpr SECURITY_INFORMATION KEPT =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    GetKernelObjectSecurity(old, KEPT, nullptr, 0, &needed);
    std::vector<unsigned char> security(needed);
    const bool described =
        needed != 0 && GetKernelObjectSecurity(old, KEPT, security.data(), needed, &needed) != FALSE;
    const DWORD security_error = described ? 0 : GetLastError();
    CloseHandle(old);
    if ((!timed && !not_kept_there(time_error)) ||
        (!described && needed != 0 && !not_kept_there(security_error))) {
        SetLastError(timed ? security_error : time_error);
        note_failure(s);
        return false;
    }
    if (timed) {
        const HANDLE now = CreateFileW(from, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool dated =
            now != INVALID_HANDLE_VALUE && SetFileTime(now, &created, nullptr, nullptr) != FALSE;
        const DWORD error = dated ? 0 : GetLastError();
        if (now != INVALID_HANDLE_VALUE) {
            CloseHandle(now);
        }
        if (!dated && !not_kept_there(error)) {
            SetLastError(error);
            note_failure(s);
            return false;
        }
    }
    if (described && SetFileSecurityW(from, KEPT, security.data()) == FALSE &&
        SetFileSecurityW(from, KEPT & ~OWNER_SECURITY_INFORMATION, security.data()) == FALSE &&
        !not_kept_there(GetLastError())) {
        note_failure(s);
        return false;
    }
    return true;
}

constexpr DWORD REFUSAL_PATIENCE_MS = 2000;
constexpr DWORD REFUSAL_PAUSE_MS = 50;

}  // namespace

// A file held open by a program that does not share it for deleting, or a
// folder, refuses the replace; so does a read-only file. A refusal for
// sharing or access is tried again for about two seconds before the name
// is given up: a scanner's look is over by then, a game's hold is not.
ReplaceResult SystemCalls::replace_file(void* context, const char* from, const char* to)
{
    NativeState& s = native_state(context);
    WidePath wide_from;
    WidePath wide_to;
    if (!to_wide(s, from, &wide_from) || !to_wide(s, to, &wide_to)) {
        return REPLACE_FAILED;
    }
    if (!take_over_identity(s, wide_from.data(), wide_to.data())) {
        return REPLACE_FAILED;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExW(wide_from.data(), wide_to.data(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return REPLACE_DONE;
        }
        const DWORD error = GetLastError();
        const bool passing = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!passing || GetTickCount() - start >= REFUSAL_PATIENCE_MS) {
            break;
        }
        Sleep(REFUSAL_PAUSE_MS);
    }
    note_failure(s);
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
bool SystemCalls::look_up(void* context, const char* path, NameInfo* info)
{
    NativeState& s = native_state(context);
    *info = NameInfo{};
    if (std::snprintf(info->target, sizeof info->target, "%s", path) >=
        static_cast<int>(sizeof info->target)) {
        info->kind = NAME_OTHER;
        return true;
    }
    // A name longer than the calls take fails the look-up: a numbered
    // name would be longer still.
    WidePath wide;
    if (!to_wide(s, path, &wide)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wide.data());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            info->kind = NAME_ABSENT;
            return true;
        case ERROR_SHARING_VIOLATION:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            info->kind = NAME_OTHER;
            return true;
        default:
            note_failure(s);
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
    const HANDLE file = CreateFileW(wide.data(), FILE_READ_ATTRIBUTES,
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
    if (info->kind == NAME_REGULAR) {
        info->size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    return true;
}

// Windows drops dots and spaces from the end of a name ("city.psu." and
// "city.psu " are city.psu; not after "\\?\", which takes names as
// written) and finds a file by its 8.3 short name too: the folder's entry
// gives the name the file goes by. A name that finds no entry, or holds
// wildcards (with which the search could find another file), stays as it
// is; opening it tells why it is no save.
bool SystemCalls::meant_path(void* context, const char* path, char* meant, std::size_t size)
{
    NativeState& s = native_state(context);
    const std::size_t length = strnlen(path, size);
    if (length == size) {
        return false;
    }
    const std::size_t start = folder_length(path, true);
    std::size_t end = length;
    while (!literal_path(path) && end > start && (path[end - 1] == '.' || path[end - 1] == ' ')) {
        --end;
    }
    const bool no_name = end == start;  // dots and spaces alone: left as given
    if (no_name) {
        end = length;
    }
    std::memcpy(meant, path, end);
    meant[end] = '\0';
    const long noted = s.last_failure;
    WidePath wide;
    WIN32_FIND_DATAW entry{};
    HANDLE search = INVALID_HANDLE_VALUE;
    if (!no_name && std::strpbrk(meant + start, "*?<>\"") == nullptr && to_wide(s, meant, &wide)) {
        search = FindFirstFileW(wide.data(), &entry);
    }
    s.last_failure = noted;  // no failure of this call's own
    if (search == INVALID_HANDLE_VALUE) {
        return true;
    }
    FindClose(search);
    const int written = WideCharToMultiByte(CP_UTF8, 0, entry.cFileName, -1, meant + start,
                                            static_cast<int>(size - start), nullptr, nullptr);
    if (written <= 0) {
        meant[0] = '\0';
        return false;
    }
    return true;
}

// Paths are UTF-8: no byte starts a double-byte character.
bool SystemCalls::is_lead_byte(void*, unsigned char byte)
{
    return single_byte_is_lead_byte(byte);
}

// At most MAX_PATH - 1 UTF-16 units.
bool SystemCalls::path_fits(void*, const char* path)
{
    const std::size_t length = strnlen(path, PATH_SIZE);
    if (length == PATH_SIZE) {
        return false;
    }
    if (length == 0) {
        return true;
    }
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, path, static_cast<int>(length), nullptr, 0);
    return units > 0 && static_cast<std::size_t>(units) <= PATH_LIMIT;
}

// The system's message for the error in UTF-8, without the line end it
// comes with.
std::size_t SystemCalls::take_error_text(void* context, char* text, std::size_t size)
{
    NativeState& s = native_state(context);
    const auto failure = static_cast<DWORD>(s.last_failure);
    s.last_failure = 0;
    if (text == nullptr || size == 0) {
        return 0;
    }
    text[0] = '\0';
    if (failure == 0) {
        return 0;
    }
    if (failure == NOT_UNICODE) {
        const int length = std::snprintf(text, size, "%s", "the name is not valid Unicode");
        return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
    }
    std::array<wchar_t, 512> wide{};  // the system's words are a sentence or two
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, failure, 0, wide.data(),
                                  static_cast<DWORD>(wide.size()), nullptr);
    while (length > 0 && (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' ||
                          wide[length - 1] == L' ')) {
        wide[--length] = L'\0';
    }
    // Whole characters only: a cut UTF-8 sequence would be no text.
    int written = 0;
    for (DWORD units = length; units > 0;) {
        written = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(units), text,
                                      static_cast<int>(size - 1), nullptr, nullptr);
        if (written > 0) {
            break;
        }
        --units;
        if (units > 0 && IS_HIGH_SURROGATE(wide[units - 1])) {
            --units;
        }
    }
    if (written <= 0) {
        std::snprintf(text, size, "Error %lu", static_cast<unsigned long>(failure));
        return std::strlen(text);
    }
    text[written] = '\0';
    return static_cast<std::size_t>(written);
}

// UTF-8 to UTF-16, then to code page 932 with no best-fit look-alikes, so
// that a character the code page lacks has no form there.
std::size_t SystemCalls::character_to_cp932(void*, const char* text, std::size_t left, char* out,
                                            std::size_t* taken)
{
    constexpr UINT SHIFT_JIS_CODE_PAGE = 932;
    std::size_t length = 0;
    if (utf8_decode(reinterpret_cast<const unsigned char*>(text), left, &length) < 0) {
        length = 0;
    }
    *taken = length == 0 ? 1 : length;
    std::array<wchar_t, 2> wide{};
    const int units = length == 0 ? 0
                                  : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text,
                                                        static_cast<int>(length), wide.data(), 2);
    BOOL lacking = FALSE;
    const int written = units <= 0 ? 0
                                   : WideCharToMultiByte(SHIFT_JIS_CODE_PAGE, WC_NO_BEST_FIT_CHARS,
                                                         wide.data(), units, out, 2, "?", &lacking);
    return written <= 0 || lacking ? 0 : static_cast<std::size_t>(written);
}

const bool SystemCalls::windows_paths = true;

NativeState::~NativeState() = default;  // Windows converts without converters
