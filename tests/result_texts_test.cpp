// The error texts of the result codes, decoded from code page 932 by the
// operating system's own tables and compared with the readable text.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "melno2quaz.h"
#include "result_codes.h"
#include "test_support.h"

namespace {

using m2q_test::cp932_to_utf8;
using m2q_test::show_bytes;

struct ExpectedText {
    int32_t code;
    const char* utf8;
};

// Codes 1 and 2 end in a bare line feed, the others in CR LF.
const ExpectedText EXPECTED[] = {
    {ERR_WORK_MEMORY, u8"作業用メモリの確保に失敗しました。\n"},
    {ERR_NOT_SOURCE, u8"Melnoのデータではありません。\n"},
    {ERR_SOURCE_MEMORY, u8"ディレクトリ、または、メモリの確保に失敗しました。\r\n"},
    {ERR_WRITE_TARGET, u8"Quazファイルの書き込みに失敗しました。\r\n"},
    {ERR_READ_SOURCE, u8"Melnoファイルの読み込みに失敗しました。\r\n"},
    {ERR_PATH_TOO_LONG, u8"パスが長すぎます。\r\n"},
};

TEST(ResultTexts, EachCodeDecodesToItsText) {
    for (const ExpectedText& expected : EXPECTED) {
        const char* text = result_text(expected.code);
        ASSERT_NE(text, nullptr) << "code " << expected.code;
        EXPECT_EQ(cp932_to_utf8(text), expected.utf8)
            << "code " << expected.code << ": " << show_bytes(text);
    }
}

TEST(ResultTexts, LineEndings) {
    for (const ExpectedText& expected : EXPECTED) {
        const std::string text = result_text(expected.code);
        const bool bare_lf = expected.code == ERR_WORK_MEMORY || expected.code == ERR_NOT_SOURCE;
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.back(), '\n') << "code " << expected.code;
        EXPECT_EQ(text[text.size() - 2] == '\r', !bare_lf) << "code " << expected.code;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "code " << expected.code;
    }
}

TEST(ResultTexts, SuccessAndUnknownCodesHaveNoText) {
    EXPECT_EQ(result_text(CONVERT_OK), nullptr);
    EXPECT_EQ(result_text(7), nullptr);
    EXPECT_EQ(result_text(-1), nullptr);
}

TEST(ResultTexts, SetResultTextFillsTheMessageBuffer) {
    for (const ExpectedText& expected : EXPECTED) {
        char message[MESSAGE_SIZE];
        std::memset(message, 'X', sizeof message);
        set_result_text(expected.code, message);
        ASSERT_NE(std::memchr(message, '\0', sizeof message), nullptr);
        EXPECT_STREQ(message, result_text(expected.code));
    }
}

}  // namespace
