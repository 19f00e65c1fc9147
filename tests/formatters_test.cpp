// The game clock and funds texts of the city summary.
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "funds.h"
#include "game_time.h"
#include "source_save.h"

namespace {

// The text a formatter writes into a buffer of `size` bytes (of `room`
// set aside); fails the test when a byte past `size` is written or no
// terminator is within it.
template <typename Value>
std::string formatted(void (*format)(Value, char*, std::size_t), Value value, std::size_t size,
                      std::size_t room) {
    char text[64];
    std::memset(text, 'X', sizeof text);
    format(value, text, size);
    for (std::size_t i = size; i < room; ++i) {
        EXPECT_EQ(text[i], 'X') << "byte " << i << " written with size " << size << " for " << value;
    }
    const bool ended = size > 0 && std::memchr(text, '\0', size) != nullptr;
    EXPECT_TRUE(ended || size == 0) << "no terminator with size " << size << " for " << value;
    return ended ? std::string(text) : std::string();
}

std::string game_time(std::int32_t seconds) {
    return formatted(format_game_time, seconds, GAME_TIME_TEXT_SIZE, GAME_TIME_TEXT_SIZE);
}

std::string funds(std::int64_t value) {
    return formatted(format_funds, value, FUNDS_TEXT_SIZE, FUNDS_TEXT_SIZE);
}

TEST(GameTime, Values) {
    const struct {
        std::int32_t clock;
        const char* text;
    } rows[] = {
        // Worked values.
        {0, "000.Winter 4   0:00'00"},
        {3283629, "001.Winter 6   0:07'09"},
        {47229 + 86400 * 42, "001.Spring 1  13:07'09"},
        {4021629, "001.Spring 5  13:07'09"},
        // Day and season boundaries.
        {86399, "000.Winter 4  23:59'59"},
        {86400, "000.Winter 5   0:00'00"},
        {518399, "000.Winter 9  23:59'59"},   // day 8
        {518400, "000.Spring 1   0:00'00"},   // day 9
        {33 * 86400, "001.Winter 1   0:00'00"},  // day 36: a new year
        {std::numeric_limits<std::int32_t>::max(), "690.Summer 1   3:14'07"},
        // Negative clocks: truncating division, remainders with the
        // dividend's sign, and negative fields printed with their sign.
        {-1, "000.Winter 4   0:00'-1"},
        {-59, "000.Winter 4   0:00'-59"},
        {-61, "000.Winter 4   0:-1'-1"},
        {-3600, "000.Winter 4  -1:00'00"},
        {-345599, "000.Winter 1  -23:-59'-59"},
        {-345600, "000.Winter 0   0:00'00"},
        {-1036799, "000.Winter -7  -23:-59'-59"},
        // From -1,036,800 seconds down the season index would be negative;
        // it is taken modulo 4 into 0..3, so -1 is the fourth season.
        {-1036800, "000.Autumn 1   0:00'00"},  // index -1
        {-1814400, "000.Summer 1   0:00'00"},  // index -2
        {-3369600, "-01.Winter 1   0:00'00"},  // index -4
        {std::numeric_limits<std::int32_t>::min(), "-690.Autumn -2  -3:-14'-8"},
    };
    for (const auto& row : rows) EXPECT_EQ(game_time(row.clock), row.text) << row.clock;
}

TEST(GameTime, EveryClockDownToTheMinimumGivesOneOfTheFourSeasons) {
    // A coarse sweep over the whole negative range (every day boundary's
    // neighbourhood once per ~37 days); nothing may read past the names.
    for (std::int64_t s = std::numeric_limits<std::int32_t>::min(); s <= 0; s += 3217 * 997) {
        const std::string text = game_time(static_cast<std::int32_t>(s));
        ASSERT_LT(text.size(), GAME_TIME_TEXT_SIZE);
        const bool named = text.find(".Winter ") != std::string::npos ||
                           text.find(".Spring ") != std::string::npos ||
                           text.find(".Summer ") != std::string::npos ||
                           text.find(".Autumn ") != std::string::npos;
        ASSERT_TRUE(named) << s << " -> " << text;
    }
}

// Thousands separators; none after the sign.
TEST(Funds, Values) {
    const struct {
        std::int64_t value;
        const char* text;
    } rows[] = {
        {0, "0"}, {7, "7"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
        {999999, "999,999"}, {1000000, "1,000,000"},
        {std::numeric_limits<std::int64_t>::max(), "9,223,372,036,854,775,807"},
        {-1, "-1"}, {-999, "-999"}, {-1000, "-1,000"}, {-123456, "-123,456"}, {-100000, "-100,000"},
        {std::numeric_limits<std::int64_t>::min(), "-9,223,372,036,854,775,808"},
    };
    for (const auto& row : rows) EXPECT_EQ(funds(row.value), row.text) << row.value;
}

// A small buffer gets a terminated prefix and nothing past its end; a
// buffer of no bytes is not touched.
TEST(Formatters, SmallBuffersAreRespected) {
    const std::string time = "000.Winter 4  23:59'59";
    const std::string money = "-9,223,372,036,854,775,808";
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5}, time.size(), time.size() + 1}) {
        const std::string text = formatted(format_game_time, std::int32_t{86399}, size, GAME_TIME_TEXT_SIZE);
        EXPECT_EQ(time.compare(0, text.size(), text), 0) << "not a prefix: " << text;
    }
    for (std::size_t size : {std::size_t{0}, std::size_t{2}, std::size_t{10}, money.size(), money.size() + 1}) {
        const std::string text = formatted(format_funds, std::numeric_limits<std::int64_t>::min(), size,
                                           FUNDS_TEXT_SIZE);
        EXPECT_EQ(money.compare(0, text.size(), text), 0) << "not a prefix: " << text;
    }
    EXPECT_EQ(funds(-1000), "-1,000");  // a full buffer is unaffected by the above
}

}  // namespace
