// The POSIX side of the platform seam: descriptors, malloc, and the
// locale's code page.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <strings.h>

#include "code_page.h"
#include "melno2quaz.h"
#include "platform.h"
#include "temp_name.h"

namespace {

// Why the latest failed operation failed: an errno value, NOT_REGULAR, or 0
// when nothing failed since take_error_text last asked.
constexpr int NOT_REGULAR = -1;
int last_failure = 0;

void note_failure(int error)
{
    last_failure = error != 0 ? error : EIO;
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
        note_failure(errno);
        return NO_FILE;
    }
    struct stat info;
    int failure = 0;
    if (::fstat(fd, &info) != 0) {
        failure = errno;
    } else if (S_ISDIR(info.st_mode)) {
        failure = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        failure = NOT_REGULAR;
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

std::uint64_t posix_file_size(PlatformFile file)
{
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
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

// A temporary name that no other process or earlier call is likely to
// pick; creation is exclusive, so a clash only costs another try.
PlatformFile posix_create_temp(const char* beside, char* name, std::size_t name_size)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!compose_temp_name(beside, false, temp_name_mix(static_cast<std::uint32_t>(::getpid())),
                               name, name_size)) {
            break;
        }
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EEXIST) {
            note_failure(errno);
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
            note_failure(put < 0 ? errno : ENOSPC);
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
    if (result != 0) {
        note_failure(errno);
    }
    return result == 0;
}

bool posix_close(PlatformFile file)
{
    if (::close(static_cast<int>(file)) != 0) {
        note_failure(errno);
        return false;
    }
    return true;
}

bool posix_remove_file(const char* path)
{
    if (::unlink(path) != 0) {
        note_failure(errno);
        return false;
    }
    return true;
}

ReplaceResult posix_replace_file(const char* from, const char* to)
{
    if (::rename(from, to) == 0) {
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
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG) {
                return true;  // told by the look at the name itself
            }
            note_failure(errno);
            return false;
        }
        if (!S_ISLNK(info.st_mode)) {
            return true;
        }
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

bool posix_look_up(const char* path, NameInfo* info)
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

bool locale_is_shift_jis()
{
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr &&
           (::strcasecmp(codeset, "SHIFT_JIS") == 0 || ::strcasecmp(codeset, "SJIS") == 0 ||
            ::strcasecmp(codeset, "CP932") == 0 || ::strcasecmp(codeset, "WINDOWS-31J") == 0);
}

// The code page is the locale's: Shift-JIS locales split paths by CP932
// characters, every other codeset (UTF-8 above all) byte by byte.
bool locale_is_lead_byte(unsigned char byte)
{
    return locale_is_shift_jis() ? cp932_is_lead_byte(byte) : single_byte_is_lead_byte(byte);
}

bool posix_path_fits(const char* path)
{
    return ::strnlen(path, PATH_LIMIT + 1) <= PATH_LIMIT;
}

std::size_t posix_take_error_text(char* text, std::size_t size)
{
    const int failure = last_failure;
    last_failure = 0;
    if (text == nullptr || size == 0) {
        return 0;
    }
    const char* words = failure == 0             ? ""
                        : failure == NOT_REGULAR ? "Not a regular file"
                                                 : std::strerror(failure);
    const int length = std::snprintf(text, size, "%s", words);
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
}

// The codeset paths are in: the locale's, where ASCII (the C and POSIX
// locales) counts as UTF-8.
const char* path_codeset()
{
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || codeset[0] == '\0' ||
        ::strcasecmp(codeset, "ANSI_X3.4-1968") == 0 || ::strcasecmp(codeset, "ASCII") == 0 ||
        ::strcasecmp(codeset, "US-ASCII") == 0) {
        return "UTF-8";
    }
    return codeset;
}

// Character by character: the locale's codeset to UTF-32, then that one
// character to code page 932, so a byte that is no character and a
// character without a code page 932 form each become one '?'.
std::size_t posix_path_to_cp932(const char** text, std::size_t* left, char* out, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(*text);
    const bool ascii = std::all_of(bytes, bytes + *left, [](unsigned char b) { return b < 0x80; });
    if (ascii || locale_is_shift_jis()) {
        // ASCII is the same in every codeset paths come in, and the paths
        // of a Shift-JIS locale are code page 932 already.
        const std::size_t n = std::min(*left, size);
        std::memcpy(out, *text, n);
        *text += n;
        *left -= n;
        return n;
    }
    const iconv_t decode = ::iconv_open("UTF-32LE", path_codeset());
    const iconv_t encode = ::iconv_open("CP932", "UTF-32LE");
    const iconv_t failed = reinterpret_cast<iconv_t>(-1);
    std::size_t put = 0;
    while (*left > 0 && size - put >= 2) {
        const auto byte = static_cast<unsigned char>(**text);
        if (byte < 0x80 || decode == failed || encode == failed) {
            // ASCII as it is; without a converter nothing else can be told.
            out[put++] = byte < 0x80 ? static_cast<char>(byte) : '?';
            ++*text;
            --*left;
            continue;
        }
        char character[4];
        char* in = const_cast<char*>(*text);
        std::size_t in_left = *left;
        char* to = character;
        std::size_t to_left = sizeof character;
        ::iconv(decode, &in, &in_left, &to, &to_left);
        if (to_left != 0) {
            // No whole character: the byte is not valid in the codeset.
            ::iconv(decode, nullptr, nullptr, nullptr, nullptr);
            out[put++] = '?';
            ++*text;
            --*left;
            continue;
        }
        char* from = character;
        std::size_t from_left = sizeof character;
        char* cp932 = out + put;
        std::size_t cp932_left = size - put;
        if (::iconv(encode, &from, &from_left, &cp932, &cp932_left) == static_cast<std::size_t>(-1)) {
            ::iconv(encode, nullptr, nullptr, nullptr, nullptr);
            out[put++] = '?';
        } else {
            put = static_cast<std::size_t>(cp932 - out);
        }
        *left -= static_cast<std::size_t>(in - *text);
        *text = in;
    }
    if (decode != failed) {
        ::iconv_close(decode);
    }
    if (encode != failed) {
        ::iconv_close(encode);
    }
    return put;
}

const PlatformOps POSIX_OPS = {
    posix_alloc_block, posix_free_block,   posix_open_read, posix_file_size,
    posix_read,        posix_create_temp,  posix_write,     posix_flush,
    posix_close,       posix_remove_file,  posix_replace_file, posix_look_up,
    locale_is_lead_byte, posix_path_fits, posix_take_error_text, posix_path_to_cp932,
    false,
};

}  // namespace

const PlatformOps& platform_native()
{
    return POSIX_OPS;
}
