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
#include <strings.h>

#include "code_page.h"
#include "platform.h"

namespace {

void* posix_alloc_zeroed(std::size_t size)
{
    return std::calloc(size, 1);
}

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

// An output is created twice: empty by the probe of its name, then again
// for the write. Truncating a file, even an empty one, makes ext4 start
// writing it back on close (it takes that for a program replacing a file's
// contents), which stalls every conversion on the disk. So a file is only
// truncated when there is something to cut.
PlatformFile posix_create_write(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return NO_FILE;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || (info.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return NO_FILE;
    }
    return fd;
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

bool posix_close(PlatformFile file)
{
    return ::close(static_cast<int>(file)) == 0;
}

bool posix_remove_file(const char* path)
{
    return ::unlink(path) == 0;
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
    posix_alloc_zeroed, posix_free_block, posix_open_read, posix_size_low, posix_read,
    posix_create_write, posix_write,      posix_close,     posix_remove_file, locale_is_lead_byte,
    posix_alloc_block,
};

}  // namespace

const PlatformOps& platform_native()
{
    return POSIX_OPS;
}
