// The city summary of a Melno save: the four fields each converted file's
// record shows, and the one composer of the Shift-JIS text that shows them.
// The report writes that text; a front end that shows a summary has it
// composed in pieces, so the city name (any bytes the save holds) can be
// shown as a field while the labels stay the core's.
#ifndef MELNO2QUAZ_CITY_SUMMARY_H
#define MELNO2QUAZ_CITY_SUMMARY_H

#include <cstddef>
#include <cstdint>

constexpr std::size_t CITY_NAME_BYTES = 16;
constexpr std::size_t GAME_TIME_TEXT_SIZE = 64;
constexpr std::size_t FUNDS_TEXT_SIZE = 64;

struct CitySummary {
    // The name's Shift-JIS bytes as the save holds them, up to its first
    // NUL (at most CITY_NAME_BYTES), terminated.
    char city_name[CITY_NAME_BYTES + 1];
    std::int32_t map_number;
    std::int32_t game_clock;               // seconds
    char game_time[GAME_TIME_TEXT_SIZE];   // the clock as shown (game_time.h)
    std::int64_t funds;
    char funds_text[FUNDS_TEXT_SIZE];      // the funds as shown (funds.h)
};

// Where the pieces of a summary go, in order: the labels, line ends and
// field values other than the name to `text`, the city name's bytes to
// `name`. Both get Shift-JIS bytes; `length` may be 0.
struct SummaryPieces {
    void* context;
    void (*text)(void* context, const char* bytes, std::size_t length);
    void (*name)(void* context, const char* bytes, std::size_t length);
};

// Hands `pieces` the summary: the name's label, the name, then the other
// three lines in one piece.
void compose_summary(const CitySummary& summary, const SummaryPieces& pieces);

// The whole summary as one text into `text` (`size` bytes, terminated, cut
// short when it does not fit).
void summary_text(const CitySummary& summary, char* text, std::size_t size);

#endif
