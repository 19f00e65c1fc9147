// The POSIX side of the platform seam: descriptors, calloc, and the
// locale's code page.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "code_page.h"
#include "platform.h"

namespace {

void* posix_alloc_block(std::size_t size)
{
    return std::malloc(size);
}

void posix_free_block(void* block)
{
    std::free(block);
}

// Only regular files are opened: a folder or a device is no save, and a
// FIFO must not block the batch (hence O_NONBLOCK until the type is known).
// POSIX has no exclusive open, so other readers are not kept out.
PlatformFile posix_open_read(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return NO_FILE;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return NO_FILE;
    }
    return fd;
}

std::uint32_t posix_size_low(PlatformFile file)
{
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.st_size) & 0xFFFFFFFFu);
}

// One request as far as the caller is concerned: the loop only goes on
// where the kernel hands back less than asked for.
bool posix_read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done)
{
    auto* at = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(static_cast<int>(file), at + total, size - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
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

// The folder part of `path`, separator included ("" for the current
// folder). Only '/' separates: no byte of a multi-byte character in the
// locales paths come in can be '/'.
std::size_t folder_length(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// A temporary name that no other process or earlier call is likely to
// pick; creation is exclusive, so a clash only costs another try.
PlatformFile posix_create_temp(const char* beside, char* name, std::size_t name_size)
{
    static unsigned counter = 0;
    const std::size_t folder = folder_length(beside);
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint32_t mix = static_cast<std::uint32_t>(::getpid()) * 2654435761u ^
                            static_cast<std::uint32_t>(now.tv_nsec) ^
                            (++counter * 40503u) ^ static_cast<std::uint32_t>(now.tv_sec) << 7;
        mix ^= mix >> 15;
        const int length = std::snprintf(name, name_size, "%.*s%s%08x.tmp", static_cast<int>(folder),
                                         beside, TEMP_NAME_MARK, static_cast<unsigned>(mix));
        if (length < 0 || static_cast<std::size_t>(length) >= name_size) {
            break;
        }
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    if (name_size > 0) {
        name[0] = '\0';
    }
    return NO_FILE;
}

bool posix_write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done)
{
    const auto* at = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t put = ::write(static_cast<int>(file), at + total, size - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            *done = total;
            return false;
        }
        total += static_cast<std::uint32_t>(put);
    }
    *done = total;
    return true;
}

bool posix_flush(PlatformFile file)
{
    int result;
    do {
        result = ::fsync(static_cast<int>(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool posix_close(PlatformFile file)
{
    return ::close(static_cast<int>(file)) == 0;
}

bool posix_remove_file(const char* path)
{
    return ::unlink(path) == 0;
}

ReplaceResult posix_replace_file(const char* from, const char* to)
{
    if (::rename(from, to) == 0) {
        return REPLACE_DONE;
    }
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

// Follows symbolic links from `path` to the name they finally lead to,
// which need not exist. A relative link target counts from the link's own
// folder. False for a loop or a path that does not fit.
bool follow_links(const char* path, char* target, std::size_t size, bool* broken)
{
    *broken = false;
    if (std::snprintf(target, size, "%s", path) >= static_cast<int>(size)) {
        *broken = true;
        return true;
    }
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info;
        if (::lstat(target, &info) != 0) {
            return errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG;
        }
        if (!S_ISLNK(info.st_mode)) {
            return true;
        }
        char link[TEMP_PATH_SIZE];
        const ssize_t got = ::readlink(target, link, sizeof link);
        if (got < 0) {
            return false;
        }
        if (static_cast<std::size_t>(got) >= sizeof link) {
            *broken = true;
            return true;
        }
        link[got] = '\0';
        const std::size_t folder = link[0] == '/' ? 0 : folder_length(target);
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

bool posix_inspect(const char* path, NameInfo* info)
{
    *info = NameInfo{};
    bool broken = false;
    if (!follow_links(path, info->target, sizeof info->target, &broken)) {
        return false;
    }
    if (broken) {
        info->kind = NAME_OTHER;
        return true;
    }
    struct stat found;
    if (::lstat(info->target, &found) != 0) {
        if (errno == ENOENT) {
            info->kind = NAME_ABSENT;
            return true;
        }
        if (errno == ELOOP || errno == ENAMETOOLONG) {
            info->kind = NAME_OTHER;
            return true;
        }
        return false;  // ENOTDIR, EACCES, EIO: the folder is the trouble
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

// The code page is the locale's: Shift-JIS locales split paths by CP932
// characters, every other codeset (UTF-8 above all) byte by byte.
bool locale_is_lead_byte(unsigned char byte)
{
    const char* codeset = ::nl_langinfo(CODESET);
    const bool shift_jis = codeset != nullptr &&
                           (::strcasecmp(codeset, "SHIFT_JIS") == 0 ||
                            ::strcasecmp(codeset, "SJIS") == 0 ||
                            ::strcasecmp(codeset, "CP932") == 0 ||
                            ::strcasecmp(codeset, "WINDOWS-31J") == 0);
    return shift_jis ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

const PlatformOps POSIX_OPS = {
    posix_alloc_block, posix_free_block,   posix_open_read, posix_size_low,
    posix_read,        posix_create_temp,  posix_write,     posix_flush,
    posix_close,       posix_remove_file,  posix_replace_file, posix_inspect,
    locale_is_lead_byte,
};

}  // namespace

const PlatformOps& platform_native()
{
    return POSIX_OPS;
}
