// The output name search on any source path. Byte 0 picks the code page
// (odd: Shift-JIS); byte 1 how many names are taken before one is free
// (255: every one is taken); the rest is the path. Checks that the name lies
// in the source's folder, is the plain or the right numbered name, fits its
// buffer, and that nothing was opened or created on the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fault_platform.h"
#include "melno2quaz.h"
#include "memory_platform.h"
#include "output_name.h"
#include "path_chars.h"
#include "require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const bool cp932 = (data[0] & 1) != 0;
    const long failing = data[1] == 255 ? -1 : data[1] % 16;
    std::string source(reinterpret_cast<const char*>(data + 2), size - 2);
    source = source.substr(0, std::strlen(source.c_str()));
    if (source.size() >= PATH_SIZE) {
        return 0;  // front ends never pass longer paths
    }

    static MemoryPlatform memory;
    memory_platform_reset(memory, cp932);
    // The names looked up first are taken: read-only files, by a table of
    // the tests' own around the memory, which also counts the look-ups.
    m2q_test::FaultyPlatform os(memory.ops);
    if (failing != 0) {
        m2q_test::Fault taken = m2q_test::fault_on(m2q_test::PlatformCall::look_up);
        taken.times = failing < 0 ? m2q_test::FAULT_FOREVER : static_cast<int>(failing);
        taken.refuse = true;
        os.add_fault(taken);
    }
    char output[OUTPUT_PATH_SIZE];
    std::memset(output, 'x', sizeof output);
    const OutputOwner owner{false, FileIdentity{}, nullptr};
    NameInfo found;
    int number = 0;
    const bool named = find_output_name(os.ops(), source.c_str(), "gamedata_", "dat", owner, &number, output,
                                        &found) == NAME_FOUND;
    PathParts parts;
    split_path(memory.ops, source.c_str(), &parts);
    const auto creates = static_cast<std::size_t>(os.calls(m2q_test::PlatformCall::look_up));
    const std::size_t open_files = os.open_files() + memory.files.size();

    require(open_files == 0);  // nothing opened, nothing created
    const void* end = std::memchr(output, '\0', sizeof output);
    require(end != nullptr);
    const std::string name(output, static_cast<std::size_t>(static_cast<const char*>(end) - output));

    // The source's folder: everything up to its last separator (or its
    // drive), by characters.
    const std::vector<bool> starts = path_char_starts(source, cp932);
    std::size_t folder_end = source.size() >= 2 && starts[1] && source[1] == ':' ? 2 : 0;
    for (std::size_t at = 0; at < source.size(); ++at) {
        if (starts[at] && path_is_separator(source[at])) {
            folder_end = at + 1;
        }
    }
    const std::string folder = source.substr(0, folder_end);

    // The name that goes with each candidate number.
    const std::string stem = std::string(parts.drive) + parts.directory + "gamedata_" +
                             parts.base_name;
    const std::string plain = stem + ".dat";

    const auto candidate = [&](long number) {
        return number == 0 ? plain : stem + "_" + std::to_string(number) + ".dat";
    };
    // What the system's calls take (the in-memory table's limit).
    const auto fits = [](const std::string& path) { return path.size() <= PATH_LIMIT; };

    // A name is found exactly when no part was cut, and the candidate that
    // the lookups let through fits (numbers only grow longer).
    const bool expect_named = !parts.cut && failing >= 0 && fits(candidate(failing));
    require(named == expect_named);
    if (!named) {
        require(name.empty());
        if (!parts.cut && failing < 0) {
            // Every candidate that fits was tried once, up to _9999.
            std::size_t fitting = 0;
            while (fitting <= static_cast<std::size_t>(OUTPUT_NAME_MAX_NUMBER) &&
                   fits(candidate(static_cast<long>(fitting)))) {
                ++fitting;
            }
            require(creates == fitting);
        }
        return 0;
    }

    require(creates == static_cast<std::size_t>(failing) + 1);
    require(name.size() < OUTPUT_PATH_SIZE);
    require(name == candidate(failing));
    require(number == failing);

    // It lies in the source's folder: the folder is its prefix and no
    // separator character follows.
    require(name.compare(0, folder.size(), folder) == 0);
    const std::vector<bool> name_starts = path_char_starts(name, cp932);
    for (std::size_t at = folder.size(); at < name.size(); ++at) {
        require(!(name_starts[at] && path_is_separator(name[at])));
    }
    return 0;
}
