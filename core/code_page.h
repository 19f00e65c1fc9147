// Lead bytes of the double-byte ANSI code page 932 (Shift-JIS).
#ifndef MELNO2QUAZ_CODE_PAGE_H
#define MELNO2QUAZ_CODE_PAGE_H

// 0x81-0x9F and 0xE0-0xFC start a double-byte character in code page 932.
bool cp932_is_lead_byte(unsigned char byte);

// A code page in which no byte starts a double-byte character (UTF-8 and
// single-byte code pages: splitting byte by byte is exact for them).
bool single_byte_is_lead_byte(unsigned char byte);

#endif
