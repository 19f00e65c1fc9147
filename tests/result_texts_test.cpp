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

// Every code that has a text.
const int32_t ERROR_CODES[] = {ERR_WORK_MEMORY,  ERR_NOT_SOURCE,  ERR_SOURCE_MEMORY,
                               ERR_WRITE_TARGET, ERR_READ_SOURCE, ERR_PATH_TOO_LONG,
                               ERR_STOPPED};

TEST(ResultTexts, EachCodeDecodesToItsText) {
    for (const int32_t code : ERROR_CODES) {
        const char* text = result_text(code);
        ASSERT_NE(text, nullptr) << "code " << code;
        EXPECT_EQ(cp932_to_utf8(text), m2q_test::error_text_utf8(code))
            << "code " << code << ": " << show_bytes(text);
    }
}

TEST(ResultTexts, LineEndings) {
    // Codes 1 and 2 end in a bare line feed, the others in CR LF.
    for (const int32_t code : ERROR_CODES) {
        const std::string text = result_text(code);
        const bool bare_lf = code == ERR_WORK_MEMORY || code == ERR_NOT_SOURCE;
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.back(), '\n') << "code " << code;
        EXPECT_EQ(text[text.size() - 2] == '\r', !bare_lf) << "code " << code;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "code " << code;
    }
}

TEST(ResultTexts, SuccessAndUnknownCodesHaveNoText) {
    EXPECT_EQ(result_text(CONVERT_OK), nullptr);
    EXPECT_EQ(result_text(8), nullptr);
    EXPECT_EQ(result_text(-1), nullptr);
}

TEST(ResultTexts, SetResultTextFillsTheMessageBuffer) {
    for (const int32_t code : ERROR_CODES) {
        char message[MESSAGE_SIZE];
        std::memset(message, 'X', sizeof message);
        set_result_text(code, message);
        ASSERT_NE(std::memchr(message, '\0', sizeof message), nullptr);
        EXPECT_STREQ(message, result_text(code));
    }
}

}  // namespace
