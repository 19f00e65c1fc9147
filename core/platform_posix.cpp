// The POSIX side of the platform seam: descriptors, malloc, and the
// locale's code page.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <time.h>

#include "code_page.h"
#include "melno2quaz.h"
#include "platform.h"
#include "system_calls.h"
#include "temp_name.h"

namespace {

// Why the latest failed operation failed: an errno value, NOT_REGULAR, or 0
// when nothing failed since take_error_text last asked.
constexpr int NOT_REGULAR = -1;
constexpr int SWAPPED = -2;  // another file took the name while it was opened
constexpr int CHANGED = -3;  // the file changed while it was read
int last_failure = 0;

void note_failure(int error)
{
    last_failure = error != 0 ? error : EIO;
}

}  // namespace

void* SystemCalls::alloc_block(std::size_t size)
{
    return std::malloc(size);
}

void SystemCalls::free_block(void* block)
{
    std::free(block);
}

namespace {

// Why a file of this kind is not opened: 0 for a regular file.
int not_openable(const struct stat& info)
{
    return S_ISREG(info.st_mode) ? 0 : S_ISDIR(info.st_mode) ? EISDIR : NOT_REGULAR;
}

}  // namespace

// Only regular files are opened. What the name is is looked at first, so a
// FIFO, a device or a socket is never opened at all: opening a device can
// have effects of its own, and a FIFO's writer would lose its data. The
// file opened must then be the very file looked at; should another have
// taken the name in between, O_NONBLOCK and O_NOCTTY keep its opening from
// blocking or taking a terminal, and it is closed again. POSIX has no
// exclusive open, so other readers are not kept out.
PlatformFile SystemCalls::open_read(const char* path)
{
    struct stat named;
    if (::stat(path, &named) != 0) {
        note_failure(errno);
        return NO_FILE;
    }
    if (not_openable(named) != 0) {
        note_failure(not_openable(named));
        return NO_FILE;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        note_failure(errno);
        return NO_FILE;
    }
    struct stat info;
    int failure = 0;
    if (::fstat(fd, &info) != 0) {
        failure = errno;
    } else if (not_openable(info) != 0) {
        failure = not_openable(info);
    } else if (info.st_dev != named.st_dev || info.st_ino != named.st_ino) {
        failure = SWAPPED;
    } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::close(fd);
        note_failure(failure);
        return NO_FILE;
    }
    return fd;
}

std::uint64_t SystemCalls::file_size(PlatformFile file)
{
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

// Reads `size` bytes from `offset` on; false with the reason noted on an
// error. `*done` gets the count, less than `size` only at the end of the
// file.
bool read_at(int fd, unsigned char* at, std::uint32_t size, off_t offset, std::uint32_t* done)
{
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t got = ::pread(fd, at + total, size - total, offset + total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            note_failure(errno);
            *done = total;
            return false;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::uint32_t>(got);
    }
    *done = total;
    return true;
}

#ifdef __APPLE__
const struct timespec& modified_time(const struct stat& info) { return info.st_mtimespec; }
const struct timespec& changed_time(const struct stat& info) { return info.st_ctimespec; }
constexpr clockid_t EARLY_CLOCK = CLOCK_REALTIME;
#else
const struct timespec& modified_time(const struct stat& info) { return info.st_mtim; }
const struct timespec& changed_time(const struct stat& info) { return info.st_ctim; }
// The kernel stamps files with the coarse clock, which may lag the fine one
// by a tick; or, on file systems with fine-grained stamps (Linux 6.13 on),
// with the fine clock once the times were looked at. A moment is taken by
// both: from the coarse clock's time to the fine one's, so that a stamp by
// either clock made then falls within it.
constexpr clockid_t EARLY_CLOCK = CLOCK_REALTIME_COARSE;
#endif

// A moment as the file clocks may stamp it.
struct Moment {
    struct timespec early;  // the coarse clock's time
    struct timespec late;   // the fine clock's time, taken after it
};

bool take_moment(Moment* moment)
{
    return ::clock_gettime(EARLY_CLOCK, &moment->early) == 0 &&
           ::clock_gettime(CLOCK_REALTIME, &moment->late) == 0;
}

bool same_time(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool not_before(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

// Whether `time` falls within [start, end].
bool within(const struct timespec& time, const struct timespec& start, const struct timespec& end)
{
    return not_before(time, start) && not_before(end, time);
}

// Whether the file was written within QUIET_NS before `start`: a writer
// that rewrites it in place may be halfway, and a read now would take half
// of one state and half of the next. (A time past `start` is a file dated
// ahead, not a write.)
constexpr long QUIET_NS = 100 * 1000 * 1000;

bool written_lately(const struct stat& info, const Moment& start)
{
    struct timespec quiet_from = start.early;
    quiet_from.tv_nsec -= QUIET_NS;
    if (quiet_from.tv_nsec < 0) {
        quiet_from.tv_nsec += 1000 * 1000 * 1000;
        --quiet_from.tv_sec;
    }
    return within(modified_time(info), quiet_from, start.late) ||
           within(changed_time(info), quiet_from, start.late);
}

// Whether the file may have changed between `before` and `after`, stated
// around a read from `start` to `end`: its size or its
// times moved, or it was stamped during the read, where a write in the
// clock's step before the read began would leave the times as they were.
// (A time past `end` is a file dated ahead, not a write.)
bool changed_during(const struct stat& before, const struct stat& after, const Moment& start,
                    const Moment& end)
{
    return before.st_size != after.st_size ||
           !same_time(modified_time(before), modified_time(after)) ||
           !same_time(changed_time(before), changed_time(after)) ||
           within(modified_time(after), start.early, end.late) ||
           within(changed_time(after), start.early, end.late);
}

}  // namespace

// One request as far as the caller is concerned: the loop only goes on
// where the kernel hands back less than asked for. POSIX keeps no writer
// out of a file being read (a game rewriting its save in place, say), so
// a file written a moment ago is first given time to settle, and its size
// and times are compared around the read: a file that changed is read
// again a little later, and one that keeps changing fails after about a
// third of a second rather than give a mix of two states.
bool SystemCalls::read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done)
{
    const int fd = static_cast<int>(file);
    *done = 0;
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    if (offset < 0) {
        note_failure(errno);
        return false;
    }
    constexpr int ATTEMPTS = 12;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        if (attempt > 0) {
            // Long enough for the file clock to step on.
            const struct timespec pause{0, 30 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
        struct stat before;
        struct stat after;
        Moment start;
        Moment end;
        if (::fstat(fd, &before) != 0 || !take_moment(&start)) {
            note_failure(errno);
            return false;
        }
        if (written_lately(before, start)) {
            continue;
        }
        if (!read_at(fd, static_cast<unsigned char*>(buffer), size, offset, done)) {
            return false;
        }
        if (::fstat(fd, &after) != 0 || !take_moment(&end)) {
            note_failure(errno);
            return false;
        }
        if (!changed_during(before, after, start, end)) {
            return ::lseek(fd, offset + *done, SEEK_SET) >= 0;
        }
    }
    note_failure(CHANGED);
    return false;
}

namespace {

#ifdef __linux__
// The access control list of a file beyond its mode bits, where the file
// system keeps one.
constexpr char ACCESS_ACL[] = "system.posix_acl_access";

// Gives `fd` the access control list of the file at `old`, if it has one.
// False when it has one that cannot be given.
bool take_over_acl(int fd, const char* old)
{
    std::array<char, 4096> acl;
    const ssize_t length = ::getxattr(old, ACCESS_ACL, acl.data(), acl.size());
    if (length < 0) {
        // No list (or no support for lists there): the mode says it all.
        return errno == ENODATA || errno == ENOTSUP;
    }
    return ::fsetxattr(fd, ACCESS_ACL, acl.data(), static_cast<std::size_t>(length), 0) == 0;
}
#else
bool take_over_acl(int, const char*)
{
    return true;
}
#endif

// Gives the new file `fd` the permission bits and access control list of
// the regular file `old` (at `old_path`) it will replace and, when run as
// root, its owner and group (a user's private save stays the user's and
// private). Others keep the group where they may. False when the
// permissions cannot be given.
bool take_over_mode(int fd, const struct stat& old, const char* old_path)
{
    struct stat now;
    if (::fstat(fd, &now) != 0) {
        return false;
    }
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (::geteuid() == 0) {
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
                return false;
            }
        } else if (now.st_gid != old.st_gid) {
            static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), old.st_gid));
        }
    }
    // The list after the mode: setting the mode rewrites the list's mask.
    return ::fchmod(fd, old.st_mode & 07777) == 0 && take_over_acl(fd, old_path);
}

}  // namespace

// A temporary name that no other process or earlier call is likely to
// pick; creation is exclusive, so a clash only costs another try. When
// `beside` is a regular file, the new file starts private and takes its
// permissions. Otherwise it gets the permission bits of `like` (the
// source of a new save), or the usual 0666, less the umask.
PlatformFile SystemCalls::create_temp(const char* beside, const char* like, char* name,
                                      std::size_t name_size)
{
    struct stat old;
    const bool replacing = ::stat(beside, &old) == 0 && S_ISREG(old.st_mode);
    struct stat model;
    const bool modelled = !replacing && like != nullptr && ::stat(like, &model) == 0 &&
                          S_ISREG(model.st_mode);
    const mode_t mode = replacing ? 0600 : modelled ? (model.st_mode & 0777) : 0666;
    const auto create_new = [&](const char* path, bool* taken) -> PlatformFile {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            *taken = errno == EEXIST;
            if (!*taken) {
                note_failure(errno);
            }
            return NO_FILE;
        }
        if (replacing && !take_over_mode(fd, old, beside)) {
            note_failure(errno);
            ::close(fd);
            ::unlink(path);
            return NO_FILE;
        }
        return fd;
    };
    return create_under_temp_name(beside, false, static_cast<std::uint32_t>(::getpid()), name,
                                  name_size, create_new);
}

bool SystemCalls::write(PlatformFile file, const void* data, std::uint32_t size,
                        std::uint32_t* done)
{
    const auto* at = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t put = ::write(static_cast<int>(file), at + total, size - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            note_failure(put < 0 ? errno : ENOSPC);
            *done = total;
            return false;
        }
        total += static_cast<std::uint32_t>(put);
    }
    *done = total;
    return true;
}

bool SystemCalls::flush(PlatformFile file)
{
    int result;
    do {
        result = ::fsync(static_cast<int>(file));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        note_failure(errno);
    }
    return result == 0;
}

bool SystemCalls::close(PlatformFile file)
{
    if (::close(static_cast<int>(file)) != 0) {
        note_failure(errno);
        return false;
    }
    return true;
}

bool SystemCalls::remove_file(const char* path)
{
    if (::unlink(path) != 0) {
        note_failure(errno);
        return false;
    }
    return true;
}

namespace {

// Makes a rename in the folder of `path` durable, so that after a power
// cut the name holds the new file, not the old one. Some file systems
// cannot flush a folder; the rename is done all the same, so this is as far
// as it goes.
void flush_folder(const char* path)
{
    char folder[TEMP_PATH_SIZE];
    if (!folder_of(path, false, folder, sizeof folder)) {
        return;
    }
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        static_cast<void>(::fsync(fd));
        ::close(fd);
    }
}

}  // namespace

ReplaceResult SystemCalls::replace_file(const char* from, const char* to)
{
    if (::rename(from, to) == 0) {
        flush_folder(to);
        return REPLACE_DONE;
    }
    note_failure(errno);
    switch (errno) {
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST:
    case EBUSY:
    case EPERM:
    case EACCES:
    case ETXTBSY:
        return REPLACE_REFUSED;
    default:
        return REPLACE_FAILED;
    }
}

namespace {

// Whether the link `link` (as lstat told it) at `path` may be followed, by
// the rule the kernel applies to its own walks where links are protected:
// in a folder anyone may write to and only owners may delete from (/tmp),
// only a link of this user or of the folder's owner. Another user's link
// there could lead a run, above all root's, onto any file.
bool may_follow(const char* path, const struct stat& link)
{
    char folder[TEMP_PATH_SIZE];
    struct stat info;
    if (!folder_of(path, false, folder, sizeof folder) || ::stat(folder, &info) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == info.st_uid;
}

// Follows symbolic links from `path` to the name they finally lead to.
// A relative link target counts from the link's own folder. `*broken` for
// a loop, a path that does not fit, or a link that may not be followed;
// `*foreign` when a link followed is not this user's. False when a name on
// the way cannot be looked at.
bool follow_links(const char* path, char* target, std::size_t size, bool* broken, bool* foreign)
{
    *broken = false;
    *foreign = false;
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        *broken = true;
        return true;
    }
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (::lstat(target, &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG) {
                return true;  // told by the look at the name itself
            }
            note_failure(errno);
            return false;
        }
        if (!S_ISLNK(info.st_mode)) {
            return true;
        }
        if (!may_follow(target, info)) {
            *broken = true;
            return true;
        }
        *foreign = *foreign || info.st_uid != ::geteuid();
        char link[TEMP_PATH_SIZE];
        const ssize_t got = ::readlink(target, link, sizeof link);
        if (got < 0) {
            note_failure(errno);
            return false;
        }
        if (static_cast<std::size_t>(got) >= sizeof link) {
            *broken = true;
            return true;
        }
        link[got] = '\0';
        const std::size_t folder = link[0] == '/' ? 0 : folder_length(target, false);
        char next[TEMP_PATH_SIZE];
        const int length = std::snprintf(next, sizeof next, "%.*s%s", static_cast<int>(folder),
                                         target, link);
        if (length < 0 || static_cast<std::size_t>(length) >= size) {
            *broken = true;
            return true;
        }
        std::memcpy(target, next, static_cast<std::size_t>(length) + 1);
    }
    *broken = true;  // a loop
    return true;
}

}  // namespace

bool SystemCalls::look_up(const char* path, NameInfo* info)
{
    *info = NameInfo{};
    bool broken = false;
    bool foreign = false;
    if (!follow_links(path, info->target, sizeof info->target, &broken, &foreign)) {
        return false;
    }
    if (broken) {
        info->kind = NAME_OTHER;
        return true;
    }
    struct stat found;
    if (::lstat(info->target, &found) != 0) {
        if (errno == ENOENT) {
            // A file is created where a link leads only when every link on
            // the way is this user's: another's link that leads nowhere is
            // passed over like a FIFO, so nobody else can choose where a
            // new file of this user's appears.
            info->kind = foreign ? NAME_OTHER : NAME_ABSENT;
            return true;
        }
        if (errno == ELOOP) {
            info->kind = NAME_OTHER;
            return true;
        }
        note_failure(errno);
        return false;  // ENOTDIR, EACCES, EIO: the folder is the trouble;
                       // ENAMETOOLONG: longer names fare no better
    }
    info->kind = S_ISREG(found.st_mode)   ? NAME_REGULAR
                 : S_ISDIR(found.st_mode) ? NAME_FOLDER
                                          : NAME_OTHER;
    info->identity = FileIdentity{static_cast<std::uint64_t>(found.st_dev),
                                  static_cast<std::uint64_t>(found.st_ino)};
    // Without any write permission bit a file counts as read-only even for
    // root, who could write it all the same.
    info->read_only = (found.st_mode & 0222) == 0 || ::access(info->target, W_OK) != 0;
    return true;
}

namespace {

bool locale_is_shift_jis()
{
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr && is_shift_jis_codeset(codeset);
}

}  // namespace

// A POSIX name means what it says.
bool SystemCalls::meant_path(const char* path, char* meant, std::size_t size)
{
    const int length = std::snprintf(meant, size, "%s", path);
    return length >= 0 && static_cast<std::size_t>(length) < size;
}

// The code page is the locale's: Shift-JIS locales split paths by CP932
// characters, every other codeset (UTF-8 above all) byte by byte.
bool SystemCalls::is_lead_byte(unsigned char byte)
{
    return locale_is_shift_jis() ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

bool SystemCalls::path_fits(const char* path)
{
    return ::strnlen(path, PATH_LIMIT + 1) <= PATH_LIMIT;
}

std::size_t SystemCalls::take_error_text(char* text, std::size_t size)
{
    const int failure = last_failure;
    last_failure = 0;
    if (text == nullptr || size == 0) {
        return 0;
    }
    const char* words = failure == 0             ? ""
                        : failure == NOT_REGULAR ? "Not a regular file"
                        : failure == SWAPPED     ? "Another file took the name while it was opened"
                        : failure == CHANGED     ? "the file changed while it was read"
                                                 : std::strerror(failure);
    const int length = std::snprintf(text, size, "%s", words);
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
}

namespace {

// The codeset paths are in: the locale's, where ASCII (the C and POSIX
// locales) counts as UTF-8.
const char* path_codeset()
{
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || is_ascii_codeset(codeset)) {
        return "UTF-8";
    }
    return codeset;
}

const iconv_t NOT_OPEN = reinterpret_cast<iconv_t>(-1);

// The locale's codeset to UTF-32, and UTF-32 to code page 932.
struct Converters {
    char codeset[64];  // what `decode` reads; empty before the first use
    iconv_t decode;
    iconv_t encode;
};

// The converters, opened on first use and kept open; the decoder is
// opened anew only when the locale's codeset has changed since.
const Converters& converters()
{
    static Converters held{"", NOT_OPEN, NOT_OPEN};
    const char* codeset = path_codeset();
    if (std::strcmp(held.codeset, codeset) != 0) {
        if (held.decode != NOT_OPEN) {
            ::iconv_close(held.decode);
        }
        held.decode = ::iconv_open("UTF-32LE", codeset);
        if (held.encode == NOT_OPEN) {
            held.encode = ::iconv_open("CP932", "UTF-32LE");
        }
        std::snprintf(held.codeset, sizeof held.codeset, "%s", codeset);
    }
    return held;
}

// The code page 932 character at `text`, copied: a lead byte with its
// trail byte, or a single byte.
std::size_t copy_cp932_character(const char* text, std::size_t left, char* out,
                                 std::size_t* taken)
{
    *taken = 1;
    if (!cp932_is_lead_byte(static_cast<unsigned char>(text[0]))) {
        out[0] = text[0];
        return 1;
    }
    if (left < 2 || !cp932_is_trail_byte(static_cast<unsigned char>(text[1]))) {
        return 0;  // a lead byte without its trail byte
    }
    out[0] = text[0];
    out[1] = text[1];
    *taken = 2;
    return 2;
}

}  // namespace

// In a Shift-JIS locale the character is copied. Otherwise it is decoded
// from the locale's codeset to UTF-32 and encoded in code page 932.
std::size_t SystemCalls::character_to_cp932(const char* text, std::size_t left, char* out,
                                            std::size_t* taken)
{
    if (locale_is_shift_jis()) {
        return copy_cp932_character(text, left, out, taken);
    }
    *taken = 1;
    const Converters& held = converters();
    if (held.decode == NOT_OPEN || held.encode == NOT_OPEN) {
        return 0;  // without a converter no character can be told
    }
    char character[4];
    char* in = const_cast<char*>(text);
    std::size_t in_left = left;
    char* to = character;
    std::size_t to_left = sizeof character;
    ::iconv(held.decode, &in, &in_left, &to, &to_left);
    if (to_left != 0) {
        // No whole character: the byte is not valid in the codeset.
        ::iconv(held.decode, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    *taken = static_cast<std::size_t>(in - text);
    char* from = character;
    std::size_t from_left = sizeof character;
    char* cp932 = out;
    std::size_t cp932_left = 2;
    const std::size_t failed = static_cast<std::size_t>(-1);
    if (::iconv(held.encode, &from, &from_left, &cp932, &cp932_left) == failed) {
        ::iconv(held.encode, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return static_cast<std::size_t>(cp932 - out);
}

const bool SystemCalls::windows_paths = false;
