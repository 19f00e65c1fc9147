// The fixed Shift-JIS texts that go with each result code.
#ifndef MELNO2QUAZ_RESULT_CODES_H
#define MELNO2QUAZ_RESULT_CODES_H

#include <cstddef>
#include <cstdint>

// The text stored in the message buffer for a failing code; null for
// CONVERT_OK and for unknown codes.
const char* result_text(int32_t code);

// Copies the text of `code` into `message` (MESSAGE_SIZE bytes).
void set_result_text(int32_t code, char* message);

#endif
