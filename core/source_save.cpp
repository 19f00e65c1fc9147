#include "source_save.h"

#include <cstring>

#include "funds.h"
#include "game_time.h"
#include "little_endian.h"
#include "melno2quaz.h"
#include "platform.h"
#include "result_codes.h"

namespace {

// Fills the summary of a loaded record and writes its text.
void summarise(SourceSave* save, char* message)
{
    const unsigned char* image = save->image;
    CitySummary& summary = save->summary;
    std::memcpy(summary.city_name, image + SOURCE_NAME_OFFSET, CITY_NAME_BYTES);
    summary.city_name[CITY_NAME_BYTES] = '\0';
    summary.map_number = static_cast<std::int32_t>(load_le32(image + SOURCE_MAP_OFFSET));
    summary.game_clock = static_cast<std::int32_t>(load_le32(image + SOURCE_CLOCK_OFFSET));
    summary.funds = static_cast<std::int64_t>(load_le64(image + SOURCE_FUNDS_OFFSET));
    format_game_time(summary.game_clock, summary.game_time, sizeof summary.game_time);
    format_funds(summary.funds, summary.funds_text, sizeof summary.funds_text);
    summary_text(summary, message, MESSAGE_SIZE);
}

}  // namespace

int32_t load_source(const PlatformOps& os, const char* path, SourceSave* save, char* message)
{
    *save = SourceSave{};

    const PlatformFile file = os.open_read(os.context, path);
    if (file == NO_FILE) {
        set_result_text(ERR_NOT_SOURCE, message);
        return ERR_NOT_SOURCE;
    }
    // All 64 bits count: a file 4 GiB longer than a save is no save.
    if (os.file_size(os.context, file) != SOURCE_SIZE) {
        os.close(os.context, file);
        set_result_text(ERR_NOT_SOURCE, message);
        return ERR_NOT_SOURCE;
    }
    save->size = SOURCE_SIZE;

    // Not cleared first: the read below fills the block whole, or the file
    // is refused.
    auto* image = static_cast<unsigned char*>(os.alloc_block(os.context, save->size));
    if (image == nullptr) {
        os.close(os.context, file);
        set_result_text(ERR_SOURCE_MEMORY, message);
        return ERR_SOURCE_MEMORY;
    }

    // A file that shrank since its size was told reads short: it is not a
    // save that can be converted.
    std::uint32_t done = 0;
    const bool read_ok = os.read(os.context, file, image, save->size, &done);
    os.close(os.context, file);
    if (!read_ok || done != save->size) {
        os.free_block(os.context, image);
        set_result_text(ERR_READ_SOURCE, message);
        return ERR_READ_SOURCE;
    }

    save->image = image;
    summarise(save, message);
    return CONVERT_OK;
}

void release_source(const PlatformOps& os, SourceSave* save)
{
    if (save->image != nullptr) {
        os.free_block(os.context, save->image);
        save->image = nullptr;
    }
}
