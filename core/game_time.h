// The in-game calendar: years of four seasons of nine days.
#ifndef MELNO2QUAZ_GAME_TIME_H
#define MELNO2QUAZ_GAME_TIME_H

#include <cstddef>
#include <cstdint>

// Writes the clock as "YYY.Season D  hh:mm'ss" into `text` (at most
// `text_size` bytes with the terminator; GAME_TIME_TEXT_SIZE always fits).
void format_game_time(std::int32_t seconds, char* text, std::size_t text_size);

#endif
