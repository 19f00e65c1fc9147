// The terminal's view of Shift-JIS texts, for terminals of several
// encodings named the way nl_langinfo(CODESET) names them.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "terminal_text.h"
#include "test_support.h"

namespace {

std::string sjis(const std::string& utf8) { return m2q_test::iconv_convert(utf8, "CP932", "UTF-8"); }

std::string shown(const char* codeset, const std::string& sjis_text) {
    TerminalText terminal;
    terminal_text_open(&terminal, codeset);
    std::string out;
    terminal_text_append(&terminal, sjis_text, &out);
    return out;
}

TEST(TerminalText, ShiftJisTerminalsGetTheBytesWithPlainLineFeeds) {
    const std::string text = sjis("  都市名:東京湾市\r\n  Melnoのデータではありません。\n");
    const std::string expected = sjis("  都市名:東京湾市\n  Melnoのデータではありません。\n");
    for (const char* codeset : {"SHIFT_JIS", "Shift_JIS", "shift-jis", "SJIS", "CP932", "WINDOWS-31J", "MS_KANJI"}) {
        TerminalText terminal;
        terminal_text_open(&terminal, codeset);
        EXPECT_EQ(terminal.mode, TERMINAL_PASS_THROUGH) << codeset;
        EXPECT_EQ(shown(codeset, text), expected) << codeset;
    }
}

TEST(TerminalText, AsciiAndUtf8TerminalsGetUtf8) {
    const std::string text = "資  金:1,234,567\r\n時  間:001.Spring 1  13:07'09\r\nｱｲｳ";
    const std::string expected = "資  金:1,234,567\n時  間:001.Spring 1  13:07'09\nｱｲｳ";
    for (const char* codeset : {"ANSI_X3.4-1968", "ASCII", "", "UTF-8", "utf8"}) {
        EXPECT_EQ(shown(codeset, sjis(text)), expected) << codeset;
    }
}

TEST(TerminalText, OtherJapaneseTerminalsGetTheirOwnEncoding) {
    const std::string text = "都市名:東京湾市 マップ:3";
    EXPECT_EQ(shown("EUC-JP", sjis(text)), m2q_test::iconv_convert(text, "EUC-JP", "UTF-8"));
}

TEST(TerminalText, CharactersATerminalCannotShowBecomeOneQuestionMarkEach) {
    // Latin-1 has none of these Japanese characters; an unknown codeset
    // leaves only ASCII.
    EXPECT_EQ(shown("ISO-8859-1", sjis("Melnoのデータ (Err:2)\r\n")), "Melno???? (Err:2)\n");
    EXPECT_EQ(shown("NO-SUCH-CODESET", sjis("Melnoのデータ (Err:2)\r\n")), "Melno???? (Err:2)\n");
}

TEST(TerminalText, BrokenShiftJisAndControlBytesBecomeQuestionMarks) {
    const char* codeset = "UTF-8";
    EXPECT_EQ(shown(codeset, "A\xFF" "B"), "A?B");              // no character
    EXPECT_EQ(shown(codeset, "A\x81" "9B"), "A?9B");            // lead byte, bad second byte
    EXPECT_EQ(shown(codeset, "A\xEB\x40" "B"), "A?B");          // unassigned double-byte code
    EXPECT_EQ(shown(codeset, "ABC\x81"), "ABC?");               // cut off at the end
    EXPECT_EQ(shown(codeset, "AB\x81\r\n"), "AB?\n");           // cut off before the line end
    EXPECT_EQ(shown(codeset, "A\x1B[2J\rB\tC\x7F"), "A?[2J?B\tC?");  // escapes, lone CR
    EXPECT_EQ(shown("SHIFT_JIS", "A\x1B[2J"), "A?[2J");
}

// Paths and the system's words are the terminal's own text: kept as they
// are but for control characters (C0, DEL, C1) and bytes that are no
// UTF-8, one '?' each.
TEST(TerminalText, OwnTextsKeepTheirCharactersAndShowControlsAsQuestionMarks) {
    const struct {
        const char* codeset;
        std::string text;
        std::string expected;
    } rows[] = {
        {"UTF-8", "東京 café €", "東京 café €"},
        {"UTF-8", "a\xC2\x9B" "31mb\xC2\x85" "c\xC2\xA0", "a?31mb?c\xC2\xA0"},  // CSI, NEL; NBSP kept
        {"UTF-8", "a\r\nb\x1B[2J\x7F", "a??b?[2J?"},
        {"", "a\xFF" "b\xC0\xAF" "c", "a?b??c"},          // no UTF-8; an overlong '/'
        {"UTF-8", "\xED\xA0\x80" "x\xE6\x9D", "???x??"},  // a surrogate; a character cut off
    };
    for (const auto& row : rows) {
        TerminalText terminal;
        terminal_text_open(&terminal, row.codeset);
        std::string out;
        terminal_text_append_own(&terminal, row.text, &out);
        EXPECT_EQ(out, row.expected) << m2q_test::show_bytes(row.text);
    }
}

TEST(TerminalText, LongTextsConvertWhole) {
    // Far more than one round of the converter's output buffer.
    std::string text;
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        text += sjis("都") + "\xFF";
        expected += "都?";
    }
    EXPECT_EQ(shown("UTF-8", text), expected);
}

TEST(TerminalText, ClosingFallsBackToPassingBytesThrough) {
    TerminalText terminal;
    terminal_text_open(&terminal, "UTF-8");
    EXPECT_EQ(terminal.mode, TERMINAL_CONVERT);
    terminal_text_close(&terminal);
    EXPECT_EQ(terminal.mode, TERMINAL_PASS_THROUGH);
    std::string out;
    terminal_text_append(&terminal, sjis("都"), &out);
    EXPECT_EQ(out, sjis("都"));
}

}  // namespace

#endif
