// Funds as decimal text with thousands separators.
#ifndef MELNO2QUAZ_FUNDS_H
#define MELNO2QUAZ_FUNDS_H

#include <cstddef>
#include <cstdint>

// Writes `value` as e.g. "-1,234,567" into `text` (at most `text_size`
// bytes with the terminator; FUNDS_TEXT_SIZE always fits).
void format_funds(std::int64_t value, char* text, std::size_t text_size);

#endif
