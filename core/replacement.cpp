#include "replacement.h"

bool begin_replacement(const PlatformOps& os, const char* target, const char* like,
                       Replacement* replacement)
{
    replacement->os = &os;
    replacement->file =
        os.create_temp(os.context, target, like, replacement->temp, sizeof replacement->temp);
    replacement->ok = replacement->file != NO_FILE;
    return replacement->ok;
}

void write_replacement(Replacement* replacement, const void* data, std::size_t size)
{
    const auto* at = static_cast<const unsigned char*>(data);
    while (replacement->ok && size > 0) {
        const std::uint32_t piece = size > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(size);
        std::uint32_t done = 0;
        if (!replacement->os->write(replacement->os->context, replacement->file, at, piece,
            &done) || done != piece) {
            replacement->ok = false;
        }
        at += piece;
        size -= piece;
    }
}

ReplaceResult finish_replacement(Replacement* replacement, const char* target,
                                 FileIdentity* identity)
{
    const PlatformOps& os = *replacement->os;
    bool ok = replacement->ok && os.flush(os.context, replacement->file) &&
              os.keep_temp(os.context, replacement->file, replacement->temp);
    ok = os.close(os.context, replacement->file) && ok;
    replacement->file = NO_FILE;
    if (ok && identity != nullptr) {
        NameInfo written;
        ok = os.look_up(os.context, replacement->temp, &written) && written.kind == NAME_REGULAR;
        *identity = written.identity;
    }
    const ReplaceResult result = ok ? os.replace_file(os.context, replacement->temp,
                                                      target) : REPLACE_FAILED;
    if (result != REPLACE_DONE) {
        os.remove_file(os.context, replacement->temp);
    }
    return result;
}

void abandon_replacement(Replacement* replacement)
{
    const PlatformOps& os = *replacement->os;
    if (replacement->file != NO_FILE) {
        os.close(os.context, replacement->file);
        replacement->file = NO_FILE;
    }
    os.remove_file(os.context, replacement->temp);
}
