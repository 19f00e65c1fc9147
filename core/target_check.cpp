#include "target_check.h"

#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "little_endian.h"
#include "platform.h"
#include "target_save.h"

namespace {

constexpr std::size_t TARGET_END_ZEROS_OFFSET = TARGET_SIZE - 4;

// The problems found so far, joined by "; ", cut to the text's size.
struct Findings {
    char* text;
    std::size_t size;
    std::size_t used;
    int count;
};

void note(Findings* findings, const char* format, ...)
{
    if (findings->used + 1 >= findings->size) {
        ++findings->count;
        return;
    }
    char* at = findings->text + findings->used;
    std::size_t room = findings->size - findings->used;
    if (findings->count > 0) {
        const int put = std::snprintf(at, room, "; ");
        findings->used += static_cast<std::size_t>(put) < room ? static_cast<std::size_t>(put) : room - 1;
        at = findings->text + findings->used;
        room = findings->size - findings->used;
    }
    va_list args;
    va_start(args, format);
    const int put = std::vsnprintf(at, room, format, args);
    va_end(args);
    if (put > 0) {
        findings->used += static_cast<std::size_t>(put) < room ? static_cast<std::size_t>(put) : room - 1;
    }
    ++findings->count;
}

// The fixed runs of the layout (the header and the fixed block), compared
// byte for byte.
void check_fixed_runs(const unsigned char* image, Findings* findings)
{
    for (std::size_t i = 0; i < TARGET_LAYOUT_RUNS; ++i) {
        const TargetRun& run = TARGET_LAYOUT[i];
        if (run.fixed != TARGET_HEADER && run.fixed != TARGET_FIXED_BLOCK) {
            continue;  // carried-over runs, and the zero end checked on its own
        }
        std::size_t differing = 0;
        std::size_t first = 0;
        for (std::size_t at = 0; at < run.length; ++at) {
            if (image[run.target_offset + at] != run.fixed[at] && differing++ == 0) {
                first = run.target_offset + at;
            }
        }
        if (differing > 0) {
            note(findings, "%s differs in %zu byte%s, the first at offset %zu",
                 run.fixed == TARGET_HEADER ? "header" : "fixed block", differing,
                 differing == 1 ? "" : "s", first);
        }
    }
}

void check_constant(const unsigned char* image, std::size_t offset, std::uint32_t expected,
                    Findings* findings)
{
    const std::uint32_t stored = load_le32(image + offset);
    if (stored != expected) {
        note(findings, "sealing constant at offset %zu is %lu, %lu expected", offset,
             static_cast<unsigned long>(stored), static_cast<unsigned long>(expected));
    }
}

void check_sum(const char* name, std::uint32_t stored, std::uint32_t computed, Findings* findings)
{
    if (stored != computed) {
        note(findings, "%s checksum 0x%08lX stored, 0x%08lX computed", name,
             static_cast<unsigned long>(stored), static_cast<unsigned long>(computed));
    }
}

}  // namespace

int32_t check_target(unsigned char* image, std::uint64_t size, char* text, std::size_t text_size)
{
    Findings findings{text, text_size, 0, 0};
    if (text_size > 0) {
        text[0] = '\0';
    }
    if (size != TARGET_SIZE) {
        note(&findings, "wrong size %" PRIu64 " (%lu expected)", size,
             static_cast<unsigned long>(TARGET_SIZE));
        return CHECK_DAMAGED;
    }

    check_fixed_runs(image, &findings);
    check_constant(image, TARGET_SEAL_A_OFFSET, TARGET_SEAL_A, &findings);
    check_constant(image, TARGET_SEAL_B_OFFSET, TARGET_SEAL_B, &findings);

    // Seal the image as the converter does, read what that stores, and put
    // the stored bytes back.
    constexpr std::size_t SEALED[] = {TARGET_HEADER_CHECKSUM_OFFSET, TARGET_SEAL_A_OFFSET,
                                      TARGET_SEAL_B_OFFSET, TARGET_IMAGE_CHECKSUM_OFFSET};
    unsigned char kept[4][4];
    for (std::size_t i = 0; i < 4; ++i) {
        std::memcpy(kept[i], image + SEALED[i], 4);
    }
    seal_target(image);
    const std::uint32_t header = load_le32(image + TARGET_HEADER_CHECKSUM_OFFSET);
    const std::uint32_t whole = load_le32(image + TARGET_IMAGE_CHECKSUM_OFFSET);
    for (std::size_t i = 0; i < 4; ++i) {
        std::memcpy(image + SEALED[i], kept[i], 4);
    }
    check_sum("header", load_le32(image + TARGET_HEADER_CHECKSUM_OFFSET), header, &findings);
    check_sum("image", load_le32(image + TARGET_IMAGE_CHECKSUM_OFFSET), whole, &findings);

    if (load_le32(image + TARGET_END_ZEROS_OFFSET) != 0) {
        note(&findings, "the last four bytes are not zero");
    }

    if (findings.count == 0) {
        std::snprintf(text, text_size, "ok");
        return CHECK_INTACT;
    }
    return CHECK_DAMAGED;
}

int32_t check_target_file(const PlatformOps& os, const char* path, char* text,
                          std::size_t text_size)
{
    char reason[256];
    os.take_error_text(os.context, nullptr, 0);

    const PlatformFile file = os.open_read(os.context, path);
    if (file == NO_FILE) {
        os.take_error_text(os.context, reason, sizeof reason);
        std::snprintf(text, text_size, "cannot be opened%s%s", reason[0] != '\0' ? ": " : "",
                      reason);
        return CHECK_UNREADABLE;
    }
    const std::uint64_t size = os.file_size(os.context, file);
    if (size != TARGET_SIZE) {
        os.close(os.context, file);
        return check_target(nullptr, size, text, text_size);
    }
    // One byte more than a save holds tells a file that grew since its size
    // was told.
    auto* image = static_cast<unsigned char*>(os.alloc_block(os.context, TARGET_SIZE + 1));
    if (image == nullptr) {
        os.close(os.context, file);
        std::snprintf(text, text_size, "no memory to read it");
        return CHECK_UNREADABLE;
    }
    std::uint32_t done = 0;
    const bool read_ok = os.read(os.context, file, image, TARGET_SIZE + 1, &done);
    os.close(os.context, file);
    int32_t result = CHECK_UNREADABLE;
    if (!read_ok || done < TARGET_SIZE) {
        os.take_error_text(os.context, reason, sizeof reason);
        std::snprintf(text, text_size, "cannot be read in full%s%s", reason[0] != '\0' ? ": " : "",
                      reason);
    } else if (done > TARGET_SIZE) {
        std::snprintf(text, text_size, "wrong size: it grew while it was read");
        result = CHECK_DAMAGED;
    } else {
        result = check_target(image, TARGET_SIZE, text, text_size);
    }
    os.free_block(os.context, image);
    return result;
}
