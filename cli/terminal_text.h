// Showing the core's Shift-JIS texts on a terminal.
//
// The core's texts (the result texts, the summary labels, city names) are
// Shift-JIS (code page 932). On a terminal that uses another encoding they
// are converted with iconv; on a Shift-JIS terminal the bytes go out
// unchanged. On Windows they become UTF-8, the console program's own text.
#ifndef MELNO2QUAZ_TERMINAL_TEXT_H
#define MELNO2QUAZ_TERMINAL_TEXT_H

#include <string>
#include <string_view>

enum TerminalTextMode : int {
    TERMINAL_PASS_THROUGH = 0,  // the terminal reads Shift-JIS itself
    TERMINAL_CONVERT = 1,       // converted with iconv
    TERMINAL_ASCII_ONLY = 2,    // no converter: non-ASCII characters become '?'
};

struct TerminalText {
    TerminalTextMode mode = TERMINAL_PASS_THROUGH;
    void* converter = nullptr;  // the iconv descriptor in TERMINAL_CONVERT
    // The terminal's own texts (paths, the system's words) are UTF-8: on
    // Windows, and for UTF-8 and ASCII codesets; otherwise the C library
    // decodes them by the locale.
    bool own_utf8 = true;

    TerminalText() = default;
    TerminalText(const TerminalText&) = delete;
    TerminalText& operator=(const TerminalText&) = delete;
    ~TerminalText();
};

// Prepares `text` for a terminal whose character set is named `codeset`
// (as nl_langinfo(CODESET) names it). Plain ASCII (the C and POSIX
// locales) gets UTF-8; Shift-JIS and its variants get the bytes unchanged.
void terminal_text_open(TerminalText* text, const char* codeset);

// The same for the terminal of this process: takes the codeset of the
// user's locale (setlocale(LC_ALL, "") first). On Windows: UTF-8.
void terminal_text_open_for_locale(TerminalText* text);

// Releases the converter; `text` then passes bytes through.
void terminal_text_close(TerminalText* text);

// Appends the Shift-JIS `sjis` to `out` in the terminal's encoding. CR LF
// becomes LF; other control bytes (except tab and line feed) and bytes that
// do not convert become '?'. Never fails and never stops early.
void terminal_text_append(TerminalText* text, std::string_view sjis, std::string* out);

// Appends `text`, which is in the terminal's own encoding already (a path,
// the system's words), as it is, but for control characters and bytes that
// are no character, each shown as one '?'. Control characters are C0,
// DEL and C1 (U+0080 to U+009F: a terminal takes U+009B for the start of
// an escape sequence), so no name can move the cursor or recolour the
// screen, nor break a line.
void terminal_text_append_own(const TerminalText* text, std::string_view own, std::string* out);

// The same for a field read from a save (a city name): there every control
// byte, line feed and tab included, becomes '?', so that the field cannot
// break the lines around it.
void terminal_text_append_field(TerminalText* text, std::string_view sjis, std::string* out);

#endif
