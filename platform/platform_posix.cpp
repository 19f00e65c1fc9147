// The POSIX side of the platform seam: descriptors, malloc, and the
// locale's code page.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
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
#include <vector>
#include <time.h>

#include "byte_paths.h"
#include "code_page.h"
#include "cp932_encoder.h"
#include "platform.h"
#include "system_calls.h"
#include "temp_name.h"

namespace {

// Why the latest failed operation failed: an errno value, NOT_REGULAR, or 0
// when nothing failed since take_error_text last asked.
constexpr int NOT_REGULAR = -1;
constexpr int SWAPPED = -2;  // another file took the name while it was opened
constexpr int CHANGED = -3;  // the file changed while it was read
constexpr int WRITING = -4;  // another program kept the file open for writing

void note_failure(NativeState& s, int error)
{
    s.last_failure = error != 0 ? error : EIO;
}

}  // namespace

void* SystemCalls::alloc_block(void*, std::size_t size)
{
    return std::malloc(size);
}

void SystemCalls::free_block(void*, void* block)
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
PlatformFile SystemCalls::open_read(void* context, const char* path)
{
    NativeState& s = native_state(context);
    struct stat named;
    if (::stat(path, &named) != 0) {
        note_failure(s, errno);
        return NO_FILE;
    }
    if (not_openable(named) != 0) {
        note_failure(s, not_openable(named));
        return NO_FILE;
    }
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        note_failure(s, errno);
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
        note_failure(s, failure);
        return NO_FILE;
    }
    return fd;
}

std::uint64_t SystemCalls::file_size(void*, PlatformFile file)
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
bool read_at(NativeState& s, int fd, unsigned char* at, std::uint32_t size, off_t offset,
             std::uint32_t* done)
{
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t got = ::pread(fd, at + total, size - total, offset + total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            note_failure(s, errno);
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

// Why a read may not be trusted: what another program does to the file.
enum class Lease {
    HELD,       // no other program has the file open for writing, and none
                // can open it so until the lease is given back
    REFUSED,    // another program has it open for writing, or mapped so
    UNAVAILABLE // none can be had here (another user's file, a network file
                // system, a system without leases): the times must tell
};

#ifdef __linux__
// A read lease on the open file. Another program opening the file for
// writing (or truncating it) breaks the lease: its open waits until the
// lease is given back, and the break is told by a signal, SIGURG here,
// which a process ignores unless it asks for it, where the default (SIGIO)
// would end the process.
Lease take_lease(int fd)
{
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0) {
        return Lease::UNAVAILABLE;
    }
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        return Lease::HELD;
    }
    return errno == EAGAIN ? Lease::REFUSED : Lease::UNAVAILABLE;
}

// Whether the lease was kept until now, unbroken; gives it back.
bool lease_kept(int fd)
{
    const bool kept = ::fcntl(fd, F_GETLEASE) == F_RDLCK;
    static_cast<void>(::fcntl(fd, F_SETLEASE, F_UNLCK));
    return kept;
}
#else
Lease take_lease(int)
{
    return Lease::UNAVAILABLE;
}

bool lease_kept(int)
{
    return false;
}
#endif

}  // namespace

// One request as far as the caller is concerned: the loop only goes on
// where the kernel hands back less than asked for. POSIX keeps no writer
// out of a file being read (a game rewriting its save in place, say). On
// Linux a read lease tells whether any other program has the file open for
// writing or mapped writable, and whether one opened it during the read:
// then the read is tried again a little later, for about two seconds, and
// fails with "another program is writing the file". Where no lease can be
// had, the file's size and times are the only witnesses: a file written a
// moment ago is first given time to settle, and they are compared around
// the read. (They cannot see a writer that changes a mapped file, one that
// pauses longer than the quiet time, nor, on a file system with one-second
// times, most writes at all.)
bool SystemCalls::read(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                       std::uint32_t* done)
{
    NativeState& s = native_state(context);
    const int fd = static_cast<int>(file);
    *done = 0;
    const off_t offset = ::lseek(fd, 0, SEEK_CUR);
    if (offset < 0) {
        note_failure(s, errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
    bool writing = false;
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            // Long enough for the file clock to step on.
            const struct timespec pause{0, 30 * 1000 * 1000};
            ::nanosleep(&pause, nullptr);
        }
        const Lease lease = take_lease(fd);
        if (lease == Lease::REFUSED) {
            writing = true;
            continue;
        }
        if (lease == Lease::HELD) {
            const bool read = read_at(s, fd, static_cast<unsigned char*>(buffer), size, offset, done);
            const bool kept = lease_kept(fd);
            if (!read) {
                return false;
            }
            if (kept) {
                return ::lseek(fd, offset + *done, SEEK_SET) >= 0;
            }
            writing = true;
            continue;
        }
        struct stat before;
        struct stat after;
        Moment start;
        Moment end;
        if (::fstat(fd, &before) != 0 || !take_moment(&start)) {
            note_failure(s, errno);
            return false;
        }
        if (written_lately(before, start)) {
            continue;
        }
        if (!read_at(s, fd, static_cast<unsigned char*>(buffer), size, offset, done)) {
            return false;
        }
        if (::fstat(fd, &after) != 0 || !take_moment(&end)) {
            note_failure(s, errno);
            return false;
        }
        if (!changed_during(before, after, start, end)) {
            return ::lseek(fd, offset + *done, SEEK_SET) >= 0;
        }
    }
    note_failure(s, writing ? WRITING : CHANGED);
    return false;
}

namespace {

#ifdef __linux__
// The access control list of a file beyond its mode bits, where the file
// system keeps one.
constexpr char ACCESS_ACL[] = "system.posix_acl_access";
constexpr std::size_t ATTRIBUTE_SIZE = 65536;

// The access control list of the file at `path` into `acl`; 0 when it has
// none (or its file system keeps none), -1 when it cannot be read.
ssize_t acl_of(const char* path, std::array<char, 4096>* acl)
{
    const ssize_t length = ::getxattr(path, ACCESS_ACL, acl->data(), acl->size());
    if (length < 0) {
        return errno == ENODATA || errno == ENOTSUP ? 0 : -1;
    }
    return length;
}

bool has_acl(int fd)
{
    return ::fgetxattr(fd, ACCESS_ACL, nullptr, 0) > 0;
}

// Gives `fd` the user attributes ("user.*") of the file at `old`, which it
// is to replace; the access control list is given apart.
bool take_over_attributes(int fd, const char* old)
{
    std::vector<char> names(ATTRIBUTE_SIZE);
    const ssize_t listed = ::listxattr(old, names.data(), names.size());
    if (listed < 0) {
        return errno == ENOTSUP;
    }
    std::vector<char> value(ATTRIBUTE_SIZE);
    for (ssize_t at = 0; at < listed; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        const char* name = &names[at];
        if (std::strncmp(name, "user.", 5) != 0) {
            continue;
        }
        const ssize_t length = ::getxattr(old, name, value.data(), value.size());
        if (length < 0 ||
            ::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(length), 0) != 0) {
            return false;
        }
    }
    return true;
}
#else
ssize_t acl_of(const char*, std::array<char, 4096>*)
{
    return 0;
}

bool has_acl(int)
{
    return false;
}

bool take_over_attributes(int, const char*)
{
    return true;
}
#endif

// The read bits of a mode: the owner's, the group's and others'.
constexpr mode_t OWNER_READ = 0400;
constexpr mode_t GROUP_READ = 0040;
constexpr mode_t OTHER_READ = 0004;

// Whether others may read, as the group's or the owner's read bit.
mode_t others_as_group(mode_t mode)
{
    return (mode & OTHER_READ) << 3;
}

mode_t others_as_owner(mode_t mode)
{
    return (mode & OTHER_READ) << 6;
}

// The one rule for what a new file `fd`, which is to replace the regular
// file `old` (null for a new name) or to hold what was made of `source`
// (null for the report), lets others read: never more than `source` does.
//
// Owner and group: run by root, `old`'s, else `source`'s (the user's own
// file stays the user's); otherwise this user's, in `old`'s or `source`'s
// group where this user may choose it. Permission bits: `old`'s, or the new
// file's own (the umask applied), with no read bit `source` lacks: the
// owner keeps theirs, having read the source, unless root made someone
// else the owner, who reads only where `source` lets others read; a group
// that is not `source`'s reads only where `source` lets others read.
// Access control list: `source`'s, else `old`'s, within those bits; a list
// that `source` does not have gives a named user or group no more than
// `source` gives to others. `old`'s user attributes are kept. False, with
// the reason noted, when any of this cannot be given.
bool settle_permissions(int fd, const struct stat* old, const char* old_path,
                        const struct stat* source, const char* source_path)
{
    const bool root = ::geteuid() == 0;
    const struct stat* model = old != nullptr ? old : source;
    struct stat now;
    if (::fstat(fd, &now) != 0) {
        return false;
    }
    if (model != nullptr && (now.st_uid != model->st_uid || now.st_gid != model->st_gid)) {
        if (root) {
            if (::fchown(fd, model->st_uid, model->st_gid) != 0) {
                return false;
            }
        } else if (now.st_gid != model->st_gid) {
            static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), model->st_gid));
        }
        if (::fstat(fd, &now) != 0) {
            return false;
        }
    }
    mode_t mode = (old != nullptr ? old->st_mode : now.st_mode) & 0777;
    std::array<char, 4096> acl;
    ssize_t acl_length = 0;
    bool source_acl = false;
    if (source != nullptr) {
        mode_t readers = (source->st_mode & (GROUP_READ | OTHER_READ)) | OWNER_READ;
        if (root && now.st_uid != source->st_uid) {
            readers = (readers & ~OWNER_READ) | others_as_owner(source->st_mode);
        }
        if (now.st_gid != source->st_gid) {
            readers = (readers & ~GROUP_READ) | others_as_group(source->st_mode);
        }
        mode &= readers | 0333;
        acl_length = acl_of(source_path, &acl);
        source_acl = acl_length > 0;
    }
    if (acl_length == 0 && old != nullptr) {
        acl_length = acl_of(old_path, &acl);
    }
    if (acl_length < 0) {
        return false;
    }
#ifdef __linux__
    // The list first: giving a list sets the bits, and the bits set after
    // it bound every entry of the list (the group's bits are its mask).
    if (acl_length > 0 &&
        ::fsetxattr(fd, ACCESS_ACL, acl.data(), static_cast<std::size_t>(acl_length), 0) != 0) {
        return false;
    }
#endif
    if (source != nullptr && !source_acl && has_acl(fd)) {
        mode &= others_as_group(source->st_mode) | ~GROUP_READ;
    }
    return ::fchmod(fd, mode) == 0 && (old == nullptr || take_over_attributes(fd, old_path));
}

// A file with no name in `folder`, where the system makes one (Linux,
// most local file systems); NO_FILE otherwise, with errno set.
int create_unnamed(const char* folder, mode_t mode)
{
#ifdef O_TMPFILE
    return ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
    static_cast<void>(folder);
    static_cast<void>(mode);
    errno = EOPNOTSUPP;
    return -1;
#endif
}

}  // namespace

// A temporary name that no other process or earlier call is likely to
// pick. Where the folder's file system can, the file is made with no name
// and takes this one only once whole (keep_temp), so a killed run leaves
// nothing; elsewhere creation under the name is exclusive, so a clash only
// costs another try. The file starts private; settle_permissions gives it
// its permissions before any byte is written.
PlatformFile SystemCalls::create_temp(void* context, const char* beside, const char* like, char* name,
                                      std::size_t name_size)
{
    NativeState& s = native_state(context);
    struct stat old;
    const bool replacing = ::stat(beside, &old) == 0 && S_ISREG(old.st_mode);
    struct stat model;
    const bool modelled = like != nullptr && ::stat(like, &model) == 0 && S_ISREG(model.st_mode);
    // A new file's bits before the umask: the source's, as a copy's, or the
    // usual ones; settle_permissions bounds them.
    const mode_t mode = modelled ? (model.st_mode & 0777) : 0666;
    const auto opened = [&](int fd, const char* path) -> PlatformFile {
        if (!settle_permissions(fd, replacing ? &old : nullptr, beside, modelled ? &model : nullptr,
                                like)) {
            note_failure(s, errno);
            ::close(fd);
            if (path != nullptr) {
                ::unlink(path);
            }
            return NO_FILE;
        }
        return fd;
    };
    char folder[TEMP_PATH_SIZE];
    if (folder_of(beside, false, folder, sizeof folder) &&
        compose_temp_name(beside, false,
                          temp_name_mix(static_cast<std::uint32_t>(::getpid()), &s.temp_names),
                          name, name_size)) {
        const int fd = create_unnamed(folder, replacing ? 0600 : mode);
        if (fd >= 0) {
            return opened(fd, nullptr);
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            note_failure(s, errno);  // the folder itself takes no file
            name[0] = '\0';
            return NO_FILE;
        }
    }
    const auto create_new = [&](const char* path, bool* taken) -> PlatformFile {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              replacing ? 0600 : mode);
        if (fd < 0) {
            *taken = errno == EEXIST;
            if (!*taken) {
                note_failure(s, errno);
            }
            return NO_FILE;
        }
        return opened(fd, path);
    };
    return create_under_temp_name(beside, false, static_cast<std::uint32_t>(::getpid()), &s.temp_names, name,
                                  name_size, create_new);
}

bool SystemCalls::write(void* context, PlatformFile file, const void* data, std::uint32_t size,
                        std::uint32_t* done)
{
    NativeState& s = native_state(context);
    const auto* at = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t put = ::write(static_cast<int>(file), at + total, size - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            note_failure(s, put < 0 ? errno : ENOSPC);
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
    int result;
    do {
        result = ::fsync(static_cast<int>(file));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        note_failure(s, errno);
    }
    return result == 0;
}

// A file made with no name takes its temporary name now, whole. An
// unnamed file is linked through /proc, which needs no privilege; where
// /proc is missing, by its descriptor, which may.
bool SystemCalls::keep_temp(void* context, PlatformFile file, const char* name)
{
    NativeState& s = native_state(context);
    const int fd = static_cast<int>(file);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        note_failure(s, errno);
        return false;
    }
    if (info.st_nlink > 0) {
        return true;  // made under its name
    }
#ifdef __linux__
    char own[64];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, own, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ||
        (errno == ENOENT && ::linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0)) {
        return true;
    }
#else
    static_cast<void>(name);
    errno = ENOTSUP;
#endif
    note_failure(s, errno);
    return false;
}

bool SystemCalls::close(void* context, PlatformFile file)
{
    NativeState& s = native_state(context);
    if (::close(static_cast<int>(file)) != 0) {
        note_failure(s, errno);
        return false;
    }
    return true;
}

bool SystemCalls::remove_file(void* context, const char* path)
{
    NativeState& s = native_state(context);
    if (::unlink(path) != 0 && errno != ENOENT) {
        note_failure(s, errno);
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

ReplaceResult SystemCalls::replace_file(void* context, const char* from, const char* to)
{
    NativeState& s = native_state(context);
    if (::rename(from, to) == 0) {
        flush_folder(to);
        return REPLACE_DONE;
    }
    note_failure(s, errno);
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
bool follow_links(NativeState& s, const char* path, char* target, std::size_t size, bool* broken,
                  bool* foreign)
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
            note_failure(s, errno);
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
            note_failure(s, errno);
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

bool SystemCalls::look_up(void* context, const char* path, NameInfo* info)
{
    NativeState& s = native_state(context);
    *info = NameInfo{};
    bool broken = false;
    bool foreign = false;
    if (!follow_links(s, path, info->target, sizeof info->target, &broken, &foreign)) {
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
        note_failure(s, errno);
        return false;  // ENOTDIR, EACCES, EIO: the folder is the trouble;
                       // ENAMETOOLONG: longer names fare no better
    }
    info->kind = S_ISREG(found.st_mode)   ? NAME_REGULAR
                 : S_ISDIR(found.st_mode) ? NAME_FOLDER
                                          : NAME_OTHER;
    info->identity = FileIdentity{static_cast<std::uint64_t>(found.st_dev),
                                  static_cast<std::uint64_t>(found.st_ino)};
    info->size = S_ISREG(found.st_mode) ? static_cast<std::uint64_t>(found.st_size) : 0;
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
bool SystemCalls::meant_path(void* context, const char* path, char* meant, std::size_t size)
{
    return byte_path_meant(context, path, meant, size);
}

// The code page is the locale's: Shift-JIS locales split paths by CP932
// characters, every other codeset (UTF-8 above all) byte by byte.
bool SystemCalls::is_lead_byte(void*, unsigned char byte)
{
    return locale_is_shift_jis() ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

bool SystemCalls::path_fits(void* context, const char* path)
{
    return byte_path_fits(context, path);
}

std::size_t SystemCalls::take_error_text(void* context, char* text, std::size_t size)
{
    NativeState& s = native_state(context);
    const long failure = s.last_failure;
    s.last_failure = 0;
    if (text == nullptr || size == 0) {
        return 0;
    }
    const char* words = failure == 0             ? ""
                        : failure == NOT_REGULAR ? "Not a regular file"
                        : failure == SWAPPED     ? "Another file took the name while it was opened"
                        : failure == CHANGED     ? "the file changed while it was read"
                        : failure == WRITING     ? "another program is writing the file"
                                                 : std::strerror(static_cast<int>(failure));
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

// The table's converters, opened on first use and kept open; the decoder
// is opened anew only when the locale's codeset has changed since.
void open_converters(NativeState& s)
{
    const char* codeset = path_codeset();
    if (std::strcmp(s.codeset, codeset) != 0) {
        if (s.decode != NativeState::NO_CONVERTER) {
            ::iconv_close(static_cast<iconv_t>(s.decode));
        }
        s.decode = ::iconv_open("UTF-32LE", codeset);
        std::snprintf(s.codeset, sizeof s.codeset, "%s", codeset);
    }
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
// from the locale's codeset to UTF-32 and encoded in code page 932 by the
// tables' one encoder.
std::size_t SystemCalls::character_to_cp932(void* context, const char* text, std::size_t left,
                                            char* out,
                                            std::size_t* taken)
{
    if (locale_is_shift_jis()) {
        return copy_cp932_character(text, left, out, taken);
    }
    *taken = 1;
    NativeState& s = native_state(context);
    open_converters(s);
    if (s.decode == NativeState::NO_CONVERTER) {
        return 0;  // without a converter no character can be told
    }
    char character[4];
    char* in = const_cast<char*>(text);
    std::size_t in_left = left;
    char* to = character;
    std::size_t to_left = sizeof character;
    ::iconv(static_cast<iconv_t>(s.decode), &in, &in_left, &to, &to_left);
    if (to_left != 0) {
        // No whole character: the byte is not valid in the codeset.
        ::iconv(static_cast<iconv_t>(s.decode), nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    *taken = static_cast<std::size_t>(in - text);
    const auto byte = [&](int i) { return static_cast<long>(static_cast<unsigned char>(character[i])); };
    return encode_cp932(&s.encoder, byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24, out);
}

const bool SystemCalls::windows_paths = false;

NativeState::~NativeState()
{
    if (decode != NO_CONVERTER) {
        ::iconv_close(static_cast<iconv_t>(decode));
    }
}
