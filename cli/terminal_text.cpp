// Shift-JIS texts on the terminal: choosing the terminal's encoding and
// converting with iconv, one '?' for every character that does not convert.
#include "terminal_text.h"

#include "code_page.h"

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cerrno>
#include <clocale>
#include <cwchar>
#include <iconv.h>
#include <langinfo.h>
#endif

namespace {

// The second byte of a double-byte character of code page 932.
// CR LF to LF, and control bytes other than tab and line feed to '?'; in a
// field every control byte becomes '?'. Control bytes are never the second
// byte of a double-byte character, so this cannot split one.
std::string terminal_lines(std::string_view sjis, bool field = false) {
    std::string lines;
    lines.reserve(sjis.size());
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(sjis[i]);
        if (!field && byte == '\r' && i + 1 < sjis.size() && sjis[i + 1] == '\n') continue;
        const bool layout = !field && (byte == '\n' || byte == '\t');
        const bool control = (byte < 0x20 && !layout) || byte == 0x7F;
        lines.push_back(control ? '?' : static_cast<char>(byte));
    }
    return lines;
}

// How many bytes the character starting at `at` takes when it cannot be
// shown: a lead byte with a valid second byte takes two.
std::size_t unshown_length(std::string_view text, std::size_t at) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (cp932_is_lead_byte(byte) && at + 1 < text.size() &&
        cp932_is_trail_byte(static_cast<unsigned char>(text[at + 1]))) {
        return 2;
    }
    return 1;
}

void append_ascii_only(std::string_view text, std::string* out) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out->push_back(static_cast<char>(byte));
            ++i;
        } else {
            out->push_back('?');
            i += unshown_length(text, i);
        }
    }
}

#ifdef _WIN32

// Character by character through UTF-16 into UTF-8 with the system's own
// code page 932 tables; a byte pair that is no character becomes '?'.
void append_converted(TerminalText*, std::string_view sjis, std::string* out) {
    constexpr UINT SHIFT_JIS_CODE_PAGE = 932;
    for (std::size_t i = 0; i < sjis.size();) {
        const unsigned char byte = static_cast<unsigned char>(sjis[i]);
        if (byte < 0x80) {
            out->push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        const std::size_t length = unshown_length(sjis, i);
        wchar_t wide[2];
        const int units = MultiByteToWideChar(SHIFT_JIS_CODE_PAGE, MB_ERR_INVALID_CHARS,
                                              sjis.data() + i, static_cast<int>(length), wide, 2);
        char utf8[8];
        const int written = units <= 0 ? 0
                                       : WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8,
                                                             sizeof utf8, nullptr, nullptr);
        if (written <= 0) {
            out->push_back('?');
        } else {
            out->append(utf8, static_cast<std::size_t>(written));
        }
        i += length;
    }
}

#else

iconv_t descriptor(const TerminalText* text) {
    return static_cast<iconv_t>(text->converter);
}

void append_converted(TerminalText* text, std::string_view sjis, std::string* out) {
    const iconv_t cd = descriptor(text);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state

    char buffer[256];
    // iconv takes a non-const input pointer but does not write through it.
    char* in = const_cast<char*>(sjis.data());
    std::size_t in_left = sjis.size();
    while (in_left > 0) {
        char* result = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &in_left, &result, &out_left);
        const int error = errno;
        out->append(buffer, static_cast<std::size_t>(result - buffer));
        if (done != static_cast<std::size_t>(-1)) continue;
        if (error == E2BIG) continue;
        // EILSEQ (a byte that is no character, or a character the terminal
        // cannot show) or EINVAL (a character cut off at the end).
        const std::size_t at = sjis.size() - in_left;
        const std::size_t skip = (error == EINVAL) ? in_left : unshown_length(sjis, at);
        out->push_back('?');
        in += skip;
        in_left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state of the terminal's encoding.
    char* result = buffer;
    std::size_t out_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, &result, &out_left);
    out->append(buffer, static_cast<std::size_t>(result - buffer));
}

#endif

}  // namespace

TerminalText::~TerminalText() { terminal_text_close(this); }

void terminal_text_close(TerminalText* text) {
#ifndef _WIN32
    if (text->mode == TERMINAL_CONVERT) iconv_close(descriptor(text));
#endif
    text->converter = nullptr;
    text->mode = TERMINAL_PASS_THROUGH;
}

void terminal_text_open(TerminalText* text, const char* codeset) {
    terminal_text_close(text);
    text->own_utf8 = true;
#ifdef _WIN32
    // The console program's own text is UTF-8; it goes to the console as
    // UTF-16 and into files and pipes as Shift-JIS.
    if (is_shift_jis_codeset(codeset != nullptr ? codeset : "")) return;
    text->mode = TERMINAL_CONVERT;
#else
    const char* name = codeset != nullptr ? codeset : "";
    text->own_utf8 = is_ascii_codeset(name) || is_utf8_codeset(name);
    if (is_shift_jis_codeset(name)) return;
    const char* target = is_ascii_codeset(name) ? "UTF-8" : name;
    const iconv_t cd = iconv_open(target, "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        text->mode = TERMINAL_ASCII_ONLY;
        return;
    }
    text->converter = cd;
    text->mode = TERMINAL_CONVERT;
#endif
}

void terminal_text_open_for_locale(TerminalText* text) {
#ifdef _WIN32
    terminal_text_open(text, "UTF-8");
#else
    std::setlocale(LC_ALL, "");
    terminal_text_open(text, nl_langinfo(CODESET));
#endif
}

namespace {

void append_lines(TerminalText* text, const std::string& lines, std::string* out) {
    if (text->mode == TERMINAL_CONVERT) {
        append_converted(text, lines, out);
        return;
    }
    if (text->mode == TERMINAL_ASCII_ONLY) {
        append_ascii_only(lines, out);
        return;
    }
    out->append(lines);
}

}  // namespace

namespace {

bool is_control(std::uint32_t character) {
    return character < 0x20 || (character >= 0x7F && character <= 0x9F);
}

// The length of the UTF-8 character at the start of `text` and, in
// `*character`, its code point; 0 for a byte that starts none.
std::size_t utf8_character(std::string_view text, std::uint32_t* character) {
    std::size_t length = 0;
    const long code = utf8_decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                  &length);
    if (code < 0) return 0;
    *character = static_cast<std::uint32_t>(code);
    return length;
}

// The same by the C library's decoder for the locale's codeset, where wide
// characters are Unicode code points.
std::size_t locale_character(std::string_view text, std::uint32_t* character) {
#ifdef _WIN32
    return utf8_character(text, character);
#else
    std::mbstate_t state{};
    wchar_t wide = 0;
    const std::size_t length = std::mbrtowc(&wide, text.data(), text.size(), &state);
    if (length == 0 || length > text.size()) return 0;  // -1, -2 and the terminator
    *character = static_cast<std::uint32_t>(wide);
    return length;
#endif
}

}  // namespace

void terminal_text_append_own(const TerminalText* text, std::string_view own, std::string* out) {
    while (!own.empty()) {
        std::uint32_t character = 0;
        const std::size_t length = text->own_utf8 ? utf8_character(own, &character)
                                                  : locale_character(own, &character);
        if (length == 0 || is_control(character)) {
            out->push_back('?');
            own.remove_prefix(length == 0 ? 1 : length);
        } else {
            out->append(own.substr(0, length));
            own.remove_prefix(length);
        }
    }
}

void terminal_text_append(TerminalText* text, std::string_view sjis, std::string* out) {
    append_lines(text, terminal_lines(sjis), out);
}

void terminal_text_append_field(TerminalText* text, std::string_view sjis, std::string* out) {
    append_lines(text, terminal_lines(sjis, true), out);
}
