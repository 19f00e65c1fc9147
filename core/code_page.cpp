#include "code_page.h"

bool cp932_is_lead_byte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool single_byte_is_lead_byte(unsigned char)
{
    return false;
}
