#include "result_codes.h"

#include <cstdio>

#include "melno2quaz.h"

const char* result_text(int32_t code)
{
    switch (code) {
    case ERR_WORK_MEMORY:
        // 作業用メモリの確保に失敗しました。\n
        return "\x8D\xEC\x8B\xC6\x97p\x83\x81\x83\x82\x83\x8A\x82\xCC\x8Am\x95\xDB\x82\xC9"
               "\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\n";
    case ERR_NOT_SOURCE:
        // Melnoのデータではありません。\n
        return "Melno\x82\xCC\x83" "f\x81[\x83^\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9"
               "\x82\xF1\x81" "B\n";
    case ERR_SOURCE_MEMORY:
        // ディレクトリ、または、メモリの確保に失敗しました。\r\n
        return "\x83" "f\x83" "B\x83\x8C\x83N\x83g\x83\x8A\x81" "A\x82\xDC\x82\xBD\x82\xCD\x81"
               "A\x83\x81\x83\x82\x83\x8A\x82\xCC\x8Am\x95\xDB\x82\xC9\x8E\xB8\x94s\x82\xB5"
               "\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n";
    case ERR_WRITE_TARGET:
        // Quazファイルの書き込みに失敗しました。\r\n
        return "Quaz\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x82\xC9"
               "\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n";
    case ERR_READ_SOURCE:
        // Melnoファイルの読み込みに失敗しました。\r\n
        return "Melno\x83t\x83@\x83" "C\x83\x8B\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x82\xC9"
               "\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n";
    case ERR_PATH_TOO_LONG:
        // パスが長すぎます。\r\n
        return "\x83p\x83X\x82\xAA\x92\xB7\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81" "B\r\n";
    default:
        return nullptr;
    }
}

void set_result_text(int32_t code, char* message)
{
    const char* text = result_text(code);
    std::snprintf(message, MESSAGE_SIZE, "%s", text != nullptr ? text : "");
}
