#include "target_save.h"

#include <cstring>

#include "melno2quaz.h"
#include "output_name.h"
#include "platform.h"

namespace {

// Takes away an output that did not reach the disk whole. Where even
// deleting fails, the file is at least emptied, so that nothing that looks
// like a converted city stays behind.
void discard_output(const char* name)
{
    const PlatformOps& os = platform();
    if (os.remove_file(name)) {
        return;
    }
    const PlatformFile file = os.create_write(name);
    if (file != NO_FILE) {
        os.close(file);
    }
}

}  // namespace

int32_t write_target(const unsigned char* image, const char* source_path, FileOutcome* outcome)
{
    char name[OUTPUT_PATH_SIZE];
    if (!make_output_name(source_path, "gamedata_", "dat", name)) {
        return ERR_WRITE_TARGET;
    }

    // The probe of make_output_name left an empty file under this name; a
    // save that did not reach the disk whole is removed again, so that no
    // file that looks like a converted city is left behind.
    const PlatformOps& os = platform();
    const PlatformFile file = os.create_write(name);
    if (file == NO_FILE) {
        discard_output(name);
        return ERR_WRITE_TARGET;
    }
    std::uint32_t done = 0;
    const bool written = os.write(file, image, TARGET_SIZE, &done) && done == TARGET_SIZE;
    const bool closed = os.close(file);
    if (!written || !closed) {
        discard_output(name);
        return ERR_WRITE_TARGET;
    }
    if (outcome != nullptr) {
        char plain[OUTPUT_PATH_SIZE];
        std::memcpy(outcome->output, name, sizeof name);
        outcome->numbered = !plain_output_name(source_path, "gamedata_", "dat", plain) ||
                            std::strcmp(plain, name) != 0;
    }
    return CONVERT_OK;
}
