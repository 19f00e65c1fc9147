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

std::string game_time(std::int32_t seconds) {
    char text[GAME_TIME_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    format_game_time(seconds, text, sizeof text);
    const void* end = std::memchr(text, '\0', sizeof text);
    EXPECT_NE(end, nullptr) << "no terminator within the buffer for " << seconds;
    return end != nullptr ? std::string(text) : std::string();
}

std::string funds(std::int64_t value) {
    char text[FUNDS_TEXT_SIZE];
    std::memset(text, 'X', sizeof text);
    format_funds(value, text, sizeof text);
    const void* end = std::memchr(text, '\0', sizeof text);
    EXPECT_NE(end, nullptr) << "no terminator within the buffer for " << value;
    return end != nullptr ? std::string(text) : std::string();
}

TEST(GameTime, WorkedValues) {
    EXPECT_EQ(game_time(0), "000.Winter 4   0:00'00");
    EXPECT_EQ(game_time(3283629), "001.Winter 6   0:07'09");
    EXPECT_EQ(game_time(47229 + 86400 * 42), "001.Spring 1  13:07'09");
    EXPECT_EQ(game_time(4021629), "001.Spring 5  13:07'09");
}

TEST(GameTime, DayAndSeasonBoundaries) {
    EXPECT_EQ(game_time(86399), "000.Winter 4  23:59'59");
    EXPECT_EQ(game_time(86400), "000.Winter 5   0:00'00");
    EXPECT_EQ(game_time(518399), "000.Winter 9  23:59'59");   // day 8
    EXPECT_EQ(game_time(518400), "000.Spring 1   0:00'00");   // day 9
    EXPECT_EQ(game_time(33 * 86400), "001.Winter 1   0:00'00");  // day 36: a new year
    EXPECT_EQ(game_time(std::numeric_limits<std::int32_t>::max()), "690.Summer 1   3:14'07");
}

// Negative clocks: truncating division, remainders with the dividend's
// sign, and negative fields printed with their sign in full.
TEST(GameTime, NegativeClocksAboveTheBound) {
    EXPECT_EQ(game_time(-1), "000.Winter 4   0:00'-1");
    EXPECT_EQ(game_time(-59), "000.Winter 4   0:00'-59");
    EXPECT_EQ(game_time(-61), "000.Winter 4   0:-1'-1");
    EXPECT_EQ(game_time(-3600), "000.Winter 4  -1:00'00");
    EXPECT_EQ(game_time(-345599), "000.Winter 1  -23:-59'-59");
    EXPECT_EQ(game_time(-345600), "000.Winter 0   0:00'00");
    EXPECT_EQ(game_time(-1036799), "000.Winter -7  -23:-59'-59");
}

// From -1,036,800 seconds down the season index would be negative; it is
// taken modulo 4 into 0..3, so -1 is the fourth season.
TEST(GameTime, SeasonIndexBelowTheBoundWrapsIntoTheFourNames) {
    EXPECT_EQ(game_time(-1036800), "000.Autumn 1   0:00'00");  // index -1
    EXPECT_EQ(game_time(-1814400), "000.Summer 1   0:00'00");  // index -2
    EXPECT_EQ(game_time(-3369600), "-01.Winter 1   0:00'00");  // index -4
    EXPECT_EQ(game_time(std::numeric_limits<std::int32_t>::min()), "-690.Autumn -2  -3:-14'-8");
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

// A small buffer gets a terminated prefix and nothing past its end.
TEST(GameTime, SmallBufferIsRespected) {
    const std::string full = "000.Winter 4  23:59'59";
    for (std::size_t size : {std::size_t{1}, std::size_t{5}, full.size(), full.size() + 1}) {
        char text[GAME_TIME_TEXT_SIZE];
        std::memset(text, 'X', sizeof text);
        format_game_time(86399, text, size);
        for (std::size_t i = size; i < sizeof text; ++i) {
            ASSERT_EQ(text[i], 'X') << "byte " << i << " written with size " << size;
        }
        ASSERT_NE(std::memchr(text, '\0', size), nullptr) << "no terminator with size " << size;
        EXPECT_EQ(full.compare(0, std::strlen(text), text), 0) << "not a prefix: " << text;
    }
    char untouched[4] = {'X', 'X', 'X', 'X'};
    format_game_time(0, untouched, 0);
    EXPECT_EQ(std::string(untouched, 4), "XXXX");
}

TEST(Funds, ThousandsSeparators) {
    EXPECT_EQ(funds(0), "0");
    EXPECT_EQ(funds(7), "7");
    EXPECT_EQ(funds(999), "999");
    EXPECT_EQ(funds(1000), "1,000");
    EXPECT_EQ(funds(1234567), "1,234,567");
    EXPECT_EQ(funds(999999), "999,999");
    EXPECT_EQ(funds(1000000), "1,000,000");
    EXPECT_EQ(funds(std::numeric_limits<std::int64_t>::max()), "9,223,372,036,854,775,807");
}

TEST(Funds, NegativeValuesHaveNoSeparatorAfterTheSign) {
    EXPECT_EQ(funds(-1), "-1");
    EXPECT_EQ(funds(-999), "-999");
    EXPECT_EQ(funds(-1000), "-1,000");
    EXPECT_EQ(funds(-123456), "-123,456");
    EXPECT_EQ(funds(-100000), "-100,000");
    const std::string smallest = funds(std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(smallest, "-9,223,372,036,854,775,808");
    EXPECT_EQ(smallest.size(), 26u);
}

TEST(Funds, SmallBufferIsRespected) {
    const std::string full = "-9,223,372,036,854,775,808";
    for (std::size_t size : {std::size_t{1}, std::size_t{2}, std::size_t{10}, full.size(),
                             full.size() + 1}) {
        char text[FUNDS_TEXT_SIZE];
        std::memset(text, 'X', sizeof text);
        format_funds(std::numeric_limits<std::int64_t>::min(), text, size);
        for (std::size_t i = size; i < sizeof text; ++i) {
            ASSERT_EQ(text[i], 'X') << "byte " << i << " written with size " << size;
        }
        ASSERT_NE(std::memchr(text, '\0', size), nullptr) << "no terminator with size " << size;
        EXPECT_EQ(full.compare(0, std::strlen(text), text), 0) << "not a prefix: " << text;
    }
    EXPECT_EQ(funds(-1000), "-1,000");  // a full buffer is unaffected by the above
    char untouched[2] = {'X', 'X'};
    format_funds(1, untouched, 0);
    EXPECT_EQ(std::string(untouched, 2), "XX");
}

}  // namespace
