#include "output_name.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "code_page.h"
#include "melno2quaz.h"
#include "platform.h"
#include "source_save.h"
#include "temp_name.h"

namespace {

constexpr std::size_t PART_LIMIT = PATH_PART_SIZE - 1;

// '/' separates folders everywhere; '\\' only where the platform says so.
bool is_separator(char c, bool windows_paths)
{
    return c == '/' || (windows_paths && c == '\\');
}

// Marks where each character of the code page starts. A lead byte and a
// trail byte after it are one character, so neither of its bytes is ever
// taken for a separator, a dot or a colon; a lead byte before any other
// byte ('/' above all, which a folder named in another encoding can put
// there) is a character of its own.
std::size_t mark_characters(const PlatformOps& os, const char* path,
                            std::array<bool, SPLIT_LIMIT + 1>& starts)
{
    std::size_t length = 0;
    while (length < SPLIT_LIMIT && path[length] != '\0') {
        ++length;
    }
    starts.fill(false);
    std::size_t at = 0;
    while (at < length) {
        starts[at] = true;
        const auto byte = static_cast<unsigned char>(path[at]);
        const bool pair = os.is_lead_byte(os.context, byte) && at + 1 < length &&
                          cp932_is_trail_byte(static_cast<unsigned char>(path[at + 1]));
        at += pair ? 2 : 1;
    }
    starts[length] = true;
    return length;
}

// Copies the characters of path[from, to) into a part of PATH_PART_SIZE
// bytes, stopping before a character that would pass 255 bytes.
void copy_part(const char* path, std::size_t from, std::size_t to,
               const std::array<bool, SPLIT_LIMIT + 1>& starts, char* part, bool* cut)
{
    std::size_t end = to;
    if (end - from > PART_LIMIT) {
        end = from + PART_LIMIT;
        while (!starts[end]) {
            --end;
        }
        *cut = true;
    }
    std::memcpy(part, path + from, end - from);
    part[end - from] = '\0';
}

// Whether the name `found` leads to is the one the report will take: the
// same last component in the same folder. The report's rename replaces
// whatever that name then holds, a save too, so no output may take it.
// False with `*failed` when a folder cannot be looked up.
bool is_report_name(const PlatformOps& os, const NameInfo& found, const BatchFiles* batch,
                    bool* failed)
{
    *failed = false;
    if (batch == nullptr || batch->report_target == nullptr) {
        return false;
    }
    const bool windows_paths = os.windows_paths;
    const char* report = batch->report_target;
    if (std::strcmp(found.target + folder_length(found.target, windows_paths),
                    report + folder_length(report, windows_paths)) != 0) {
        return false;
    }
    char folder[TEMP_PATH_SIZE];
    NameInfo output_folder;
    NameInfo report_folder;
    if (!folder_of(found.target, windows_paths, folder, sizeof folder) ||
        !os.look_up(os.context, folder, &output_folder) ||
        !folder_of(report, windows_paths, folder, sizeof folder) ||
        !os.look_up(os.context, folder, &report_folder)) {
        *failed = true;
        return false;
    }
    return output_folder.kind == NAME_FOLDER && report_folder.kind == NAME_FOLDER &&
           same_file(output_folder.identity, report_folder.identity);
}

bool is_dot_name(const char* name, std::size_t length)
{
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

// Composes a candidate into `output`; false when it would not fit whole.
bool compose(char* output, const PathParts& parts, const char* prefix, int number,
             const char* extension)
{
    const int length =
        number == 0 ? std::snprintf(output, OUTPUT_PATH_SIZE, "%s%s%s%s.%s", parts.drive,
                                    parts.directory, prefix, parts.base_name, extension)
                    : std::snprintf(output, OUTPUT_PATH_SIZE, "%s%s%s%s_%d.%s", parts.drive,
                                    parts.directory, prefix, parts.base_name, number, extension);
    return length >= 0 && static_cast<std::size_t>(length) < OUTPUT_PATH_SIZE;
}

}  // namespace

void split_path(const PlatformOps& os, const char* path, PathParts* parts)
{
    *parts = PathParts{};
    std::array<bool, SPLIT_LIMIT + 1> starts;
    const std::size_t length = mark_characters(os, path, starts);

    const bool windows_paths = os.windows_paths;
    std::size_t drive_end = 0;
    if (windows_paths && length >= 2 && starts[1] && path[1] == ':') {
        drive_end = 2;
        parts->drive[0] = path[0];
        parts->drive[1] = ':';
    }

    std::size_t name_start = drive_end;  // start of the last component
    std::size_t last_dot = length;       // last dot of the last component
    for (std::size_t at = drive_end; at < length; ++at) {
        if (!starts[at]) {
            continue;
        }
        if (is_separator(path[at], windows_paths)) {
            name_start = at + 1;
            last_dot = length;
        } else if (path[at] == '.') {
            last_dot = at;
        }
    }

    std::size_t extension_start = last_dot;
    std::size_t directory_end = name_start;
    if (is_dot_name(path + name_start, length - name_start)) {
        // "." and ".." name folders: they belong to the directory.
        directory_end = length;
        name_start = length;
        extension_start = length;
    }

    bool extension_cut = false;
    copy_part(path, drive_end, directory_end, starts, parts->directory, &parts->name_cut);
    copy_part(path, name_start, extension_start, starts, parts->base_name, &parts->name_cut);
    copy_part(path, extension_start, length, starts, parts->extension, &extension_cut);
    parts->cut = parts->name_cut || extension_cut;
}

bool output_owner(const PlatformOps& os, const char* source_path, const BatchFiles* batch,
                  OutputOwner* owner)
{
    NameInfo source;
    if (!os.look_up(os.context, source_path, &source)) {
        return false;
    }
    owner->source_known = source.kind == NAME_REGULAR;
    owner->source = source.identity;
    owner->batch = batch;
    return true;
}

NameUse name_use(const NameInfo& found, const OutputOwner& owner)
{
    switch (found.kind) {
    case NAME_ABSENT: return NAME_USABLE;
    case NAME_FOLDER: return NAME_IS_FOLDER;
    case NAME_OTHER: return NAME_IS_SPECIAL;
    case NAME_REGULAR: break;
    }
    if (found.read_only) {
        return NAME_IS_READ_ONLY;
    }
    // A Melno save is never replaced, whoever gave it or wherever it came
    // from: it may be the only copy of a city.
    if (found.size == SOURCE_SIZE) {
        return NAME_IS_MELNO_SAVE;
    }
    const FileIdentity& name = found.identity;
    if (owner.source_known && same_file(owner.source, name)) {
        return NAME_IS_SOURCE;
    }
    if (owner.batch == nullptr) {
        return NAME_USABLE;
    }
    for (std::size_t i = 0; i < owner.batch->count; ++i) {
        const BatchEntry& entry = owner.batch->entries[i];
        if (entry.source_known && same_file(entry.source, name)) {
            return NAME_IS_IN_BATCH;
        }
        // The same source dropped twice replaces its own output.
        if (entry.output_known && same_file(entry.output, name) &&
            !(entry.source_known && owner.source_known && same_file(entry.source, owner.source))) {
            return NAME_IS_OTHER_OUTPUT;
        }
    }
    return NAME_USABLE;
}

const char* name_use_text(NameUse use)
{
    switch (use) {
    case NAME_USABLE: return "";
    case NAME_IS_FOLDER: return "it is a folder";
    case NAME_IS_SPECIAL: return "it is no regular file";
    case NAME_IS_READ_ONLY: return "it is read-only";
    case NAME_IS_SOURCE: return "it is the source file itself";
    case NAME_IS_IN_BATCH: return "it is another file of this batch";
    case NAME_IS_OTHER_OUTPUT: return "this batch wrote it for another file";
    case NAME_IS_HELD: return "the system refused to replace it";
    case NAME_IS_REPORT: return "report.txt is written there";
    case NAME_LEADS_NOWHERE: return "it is a link into a folder where no file can be written";
    case NAME_IS_MELNO_SAVE: return "it is a Melno save";
    }
    return "";
}

NameSearch find_output_name(const PlatformOps& os, const char* source_path, const char* prefix,
                            const char* extension,
                            const OutputOwner& owner, int* number, char* output, NameInfo* found,
                            NameUse* passed_over)
{
    PathParts parts;
    split_path(os, source_path, &parts);
    // A shortened directory or base name would put the file under another
    // name, or in another folder: nothing is written under such a name, nor
    // under one longer than the system's calls take. The source's extension
    // is not part of the output name, so its length does not matter.
    const int first = *number;
    if (parts.name_cut) {
        output[0] = '\0';
        return NAME_TOO_LONG;
    }
    for (; *number <= OUTPUT_NAME_MAX_NUMBER; ++*number) {
        if (!compose(output, parts, prefix, *number, extension) ||
            !os.path_fits(os.context, output)) {
            output[0] = '\0';
            return NAME_TOO_LONG;
        }
        if (!os.look_up(os.context, output, found)) {
            output[0] = '\0';
            return NAME_FAILED;
        }
        NameUse use = name_use(*found, owner);
        bool failed = false;
        if (use == NAME_USABLE && is_report_name(os, *found, owner.batch, &failed)) {
            use = NAME_IS_REPORT;
        }
        if (failed) {
            output[0] = '\0';
            return NAME_FAILED;
        }
        if (passed_over != nullptr && *number == first) {
            *passed_over = use;
        }
        if (use == NAME_USABLE) {
            return NAME_FOUND;
        }
    }
    output[0] = '\0';
    return NAME_NONE;
}

const char* name_search_text(NameSearch search)
{
    switch (search) {
    case NAME_FOUND:
    case NAME_FAILED: return "";
    case NAME_NONE: return "every output name up to _9999 is taken";
    case NAME_TOO_LONG: return "the output name would be too long";
    }
    return "";
}

bool make_output_name(const PlatformOps& os, const char* source_path, const char* prefix,
                      const char* extension,
                      char* output)
{
    OutputOwner owner{};
    NameInfo found;
    int number = 0;
    if (!output_owner(os, source_path, nullptr, &owner)) {
        output[0] = '\0';
        return false;
    }
    return find_output_name(os, source_path, prefix, extension, owner, &number, output, &found) ==
           NAME_FOUND;
}
