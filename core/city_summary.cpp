#include "city_summary.h"

#include <cstdio>
#include <cstring>

namespace {

// "都市名:" (city name), the label before the name.
const char NAME_LABEL[] = "\x93s\x8Es\x96\xBC:";
// "\r\n  マップ:%d\r\n  時  間:%s\r\n  資  金:%s\r\n": map, time and funds.
const char REST_FORMAT[] =
    "\r\n  \x83}\x83" "b\x83v:%d\r\n  \x8E\x9E  \x8A\xD4:%s\r\n  \x8E\x91  \x8B\xE0:%s\r\n";
// Room for the rest: two labelled lines of a field each and the map.
constexpr std::size_t REST_SIZE = GAME_TIME_TEXT_SIZE + FUNDS_TEXT_SIZE + 64;

// A piece appended to a bounded text.
struct Bounded {
    char* text;
    std::size_t size;
    std::size_t length;
};

void append(void* context, const char* bytes, std::size_t length)
{
    auto* out = static_cast<Bounded*>(context);
    const std::size_t room = out->size - 1 - out->length;
    const std::size_t n = length < room ? length : room;
    std::memcpy(out->text + out->length, bytes, n);
    out->length += n;
    out->text[out->length] = '\0';
}

}  // namespace

void compose_summary(const CitySummary& summary, const SummaryPieces& pieces)
{
    pieces.text(pieces.context, NAME_LABEL, sizeof NAME_LABEL - 1);
    pieces.name(pieces.context, summary.city_name, strnlen(summary.city_name, CITY_NAME_BYTES));
    char rest[REST_SIZE];
    const int length = std::snprintf(rest, sizeof rest, REST_FORMAT,
                                     static_cast<int>(summary.map_number), summary.game_time,
                                     summary.funds_text);
    if (length > 0) {
        pieces.text(pieces.context, rest,
                    static_cast<std::size_t>(length) < sizeof rest ? static_cast<std::size_t>(length)
                                                                   : sizeof rest - 1);
    }
}

void summary_text(const CitySummary& summary, char* text, std::size_t size)
{
    if (size == 0) {
        return;
    }
    Bounded out{text, size, 0};
    text[0] = '\0';
    compose_summary(summary, SummaryPieces{&out, append, append});
}
