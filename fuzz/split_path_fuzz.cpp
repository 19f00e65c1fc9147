// split_path on any bytes: the first byte picks the code page (odd:
// Shift-JIS), the rest is the path. Checks that the parts are bounded,
// that put back together they give the path, and that every separator,
// dot and colon is taken at a character boundary only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "memory_platform.h"
#include "output_name.h"
#include "path_chars.h"
#include "require.h"

namespace {

std::size_t bounded_length(const char* text, std::size_t size)
{
    const void* end = std::memchr(text, '\0', size);
    require(end != nullptr);  // every part is terminated inside its buffer
    return static_cast<std::size_t>(static_cast<const char*>(end) - text);
}

constexpr std::size_t PART = PATH_PART_SIZE - 1;  // bytes a part holds

// `part` is `whole` (which starts at `from` in the path) when that fits
// in PART bytes, else its longest prefix of whole characters that does.
bool is_cut_of(const std::string& whole, const std::string& part, const std::vector<bool>& starts,
               std::size_t from)
{
    if (whole.size() <= PART) {
        return part == whole;
    }
    std::size_t length = PART;
    while (!starts[from + length]) {
        --length;
    }
    return part == whole.substr(0, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const bool cp932 = (data[0] & 1) != 0;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    input = input.substr(0, std::strlen(input.c_str()));  // up to the first NUL
    const std::string path = input.substr(0, SPLIT_LIMIT);  // what is looked at
    const std::vector<bool> starts = path_char_starts(path, cp932);

    static MemoryPlatform memory;
    memory_platform_reset(memory, cp932);
    PathParts parts;
    split_path(memory.ops, input.c_str(), &parts);

    const std::string drive(parts.drive, bounded_length(parts.drive, sizeof parts.drive));
    const std::string directory(parts.directory,
                                bounded_length(parts.directory, sizeof parts.directory));
    const std::string base(parts.base_name, bounded_length(parts.base_name, sizeof parts.base_name));
    const std::string extension(parts.extension,
                                bounded_length(parts.extension, sizeof parts.extension));
    require(directory.size() <= PART && base.size() <= PART && extension.size() <= PART);

    // Put back together, the parts give the path (when nothing was cut).
    require(parts.cut || drive + directory + base + extension == path);

    // The same split, by a plain model of the rules: the drive is "X:" when
    // the path starts with a character and a colon; the last separator
    // ends the directory; the last dot of the last component starts the
    // extension, unless that component is "." or "..".
    const bool has_drive = path.size() >= 2 && starts[1] && path[1] == ':';
    const std::size_t drive_end = has_drive ? 2 : 0;
    std::size_t name_at = drive_end;
    for (std::size_t at = drive_end; at < path.size(); ++at) {
        if (starts[at] && path_is_separator(path[at])) {
            name_at = at + 1;
        }
    }
    std::size_t dot_at = path.size();
    for (std::size_t at = name_at; at < path.size(); ++at) {
        if (starts[at] && path[at] == '.') {
            dot_at = at;
        }
    }
    const std::string last = path.substr(name_at);
    if (last == "." || last == "..") {
        name_at = path.size();
        dot_at = path.size();
    }
    const std::string model_directory = path.substr(drive_end, name_at - drive_end);
    const std::string model_base = path.substr(name_at, dot_at - name_at);
    const std::string model_extension = path.substr(dot_at);

    require(drive == path.substr(0, drive_end));
    const bool too_long = model_directory.size() > PART || model_base.size() > PART ||
                          model_extension.size() > PART;
    require(parts.cut == too_long);
    require(is_cut_of(model_directory, directory, starts, drive_end));
    require(is_cut_of(model_base, base, starts, name_at));
    require(is_cut_of(model_extension, extension, starts, dot_at));
    return 0;
}
