#include "game_time.h"

#include <cstdio>

namespace {
const char* const SEASON_NAMES[4] = {"Winter", "Spring", "Summer", "Autumn"};
constexpr std::int32_t DAYS_PER_SEASON = 9;
constexpr std::int32_t DAYS_PER_YEAR = 36;
constexpr std::int32_t FIRST_DAY = 3;  // the calendar starts three days in
}  // namespace

void format_game_time(std::int32_t seconds, char* text, std::size_t text_size)
{
    // C++ division truncates toward zero and the remainder takes the sign
    // of the dividend, which is what negative clocks are shown with.
    const std::int32_t second = seconds % 60;
    const std::int32_t minute = (seconds / 60) % 60;
    const std::int32_t hour = (seconds / 3600) % 24;
    const std::int32_t day = seconds / 86400 + FIRST_DAY;
    const std::int32_t day_of_season = day % DAYS_PER_SEASON + 1;
    const std::int32_t year = day / DAYS_PER_YEAR;
    // From -1,036,800 seconds down the truncated season index turns
    // negative; it is wrapped into the four seasons (-1 is Autumn, the
    // season before Winter) so that it always names one.
    std::int32_t season = (day / DAYS_PER_SEASON) % 4;
    if (season < 0) {
        season += 4;
    }
    std::snprintf(text, text_size, "%03d.%s %d  %2d:%02d'%02d", static_cast<int>(year),
                  SEASON_NAMES[season], static_cast<int>(day_of_season), static_cast<int>(hour),
                  static_cast<int>(minute), static_cast<int>(second));
}
