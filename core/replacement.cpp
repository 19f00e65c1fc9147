#include "replacement.h"

bool begin_replacement(const char* target, const char* like, Replacement* replacement)
{
    replacement->file =
        platform().create_temp(target, like, replacement->temp, sizeof replacement->temp);
    replacement->ok = replacement->file != NO_FILE;
    return replacement->ok;
}

void write_replacement(Replacement* replacement, const void* data, std::size_t size)
{
    const auto* at = static_cast<const unsigned char*>(data);
    while (replacement->ok && size > 0) {
        const std::uint32_t piece = size > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(size);
        std::uint32_t done = 0;
        if (!platform().write(replacement->file, at, piece, &done) || done != piece) {
            replacement->ok = false;
        }
        at += piece;
        size -= piece;
    }
}

ReplaceResult finish_replacement(Replacement* replacement, const char* target,
                                 FileIdentity* identity)
{
    const PlatformOps& os = platform();
    bool ok = replacement->ok && os.flush(replacement->file);
    ok = os.close(replacement->file) && ok;
    replacement->file = NO_FILE;
    if (ok && identity != nullptr) {
        const PurposeScope looking(PURPOSE_WRITTEN_IDENTITY);
        NameInfo written;
        ok = os.look_up(replacement->temp, &written) && written.kind == NAME_REGULAR;
        *identity = written.identity;
    }
    const ReplaceResult result = ok ? os.replace_file(replacement->temp, target) : REPLACE_FAILED;
    if (result != REPLACE_DONE) {
        os.remove_file(replacement->temp);
    }
    return result;
}

void abandon_replacement(Replacement* replacement)
{
    const PlatformOps& os = platform();
    if (replacement->file != NO_FILE) {
        os.close(replacement->file);
        replacement->file = NO_FILE;
    }
    os.remove_file(replacement->temp);
}
