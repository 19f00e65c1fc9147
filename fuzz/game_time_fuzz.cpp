// format_game_time on any 32-bit clock (bytes 0-3, little-endian; byte 4,
// when present, sizes a second, smaller buffer). Reads the text back and
// checks that its fields put together give the clock again, that it is in
// its canonical form, and that a smaller buffer gets a bounded prefix.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "game_time.h"
#include "source_save.h"
#include "require.h"

namespace {

const char* const SEASONS[4] = {"Winter", "Spring", "Summer", "Autumn"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t raw = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i) {
        raw |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    }
    const auto seconds = static_cast<std::int32_t>(raw);

    char text[GAME_TIME_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    format_game_time(seconds, text, sizeof text);
    require(std::memchr(text, '\0', sizeof text) != nullptr);
    const std::string full = text;

    // Back to its fields.
    int year = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    char season[8] = {};
    require(std::sscanf(text, "%d.%7[A-Za-z] %d %d:%d'%d%n", &year, season, &day, &hour, &minute,
                        &second, &used) == 6);
    require(static_cast<std::size_t>(used) == full.size());
    int season_index = -1;
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(season, SEASONS[i]) == 0) {
            season_index = i;
        }
    }
    require(season_index >= 0);
    require(-60 < second && second < 60 && -60 < minute && minute < 60 && -24 < hour && hour < 24);
    require(-7 <= day && day <= 9);

    // Canonical: zero-padded year, space-padded hour, two-digit minutes
    // and seconds.
    char again[GAME_TIME_TEXT_SIZE];
    std::snprintf(again, sizeof again, "%03d.%s %d  %2d:%02d'%02d", year, season, day, hour,
                  minute, second);
    require(full == again);

    // The fields give the clock again: years of four seasons of nine days,
    // the calendar three days in. Before day 0 a season counts from the
    // end of the year, so it is shown wrapped into the four names.
    bool matches = false;
    for (const int season_count : {season_index, season_index - 4}) {
        const std::int64_t day_number =
            static_cast<std::int64_t>(year) * 36 + season_count * 9 + (day - 1);
        const std::int64_t clock =
            (day_number - 3) * 86400 + hour * 3600LL + minute * 60LL + second;
        if (clock == seconds && (seconds < 0 || season_count == season_index)) {
            matches = true;
        }
    }
    require(matches);
    if (seconds >= 0) {
        require(year >= 0 && day >= 1 && hour >= 0 && minute >= 0 && second >= 0);
    }

    // A smaller buffer receives the start of the same text, terminated.
    if (size > 4) {
        const std::size_t small = 1 + data[4] % GAME_TIME_TEXT_SIZE;
        std::unique_ptr<char[]> buffer(new char[small]);
        format_game_time(seconds, buffer.get(), small);
        require(std::memchr(buffer.get(), '\0', small) != nullptr);
        const std::size_t length = std::strlen(buffer.get());
        require(length == std::min(full.size(), small - 1));
        require(full.compare(0, length, buffer.get()) == 0);
    }
    return 0;
}
