// The fixed texts of the main window, in Shift-JIS (code page 932).
#ifndef MELNO2QUAZ_WINDOW_TEXTS_H
#define MELNO2QUAZ_WINDOW_TEXTS_H

#include <cstddef>

constexpr char MAIN_WINDOW_CLASS[] = "cnvtmelnotoquaz";

// "Melno→Quazデータ変換"
constexpr char MAIN_WINDOW_TITLE[] =
    "Melno\x81\xA8Quaz\x83" "f\x81[\x83^\x95\xCF\x8A\xB7";

// "ここにMelnoセーブデータ(.psu)をドラッグ&ドロップすると"
constexpr char INSTRUCTION_LINE_1[] =
    "\x82\xB1\x82\xB1\x82\xC9Melno\x83Z\x81[\x83u\x83" "f\x81[\x83^(.psu)\x82\xF0\x83h"
    "\x83\x89\x83" "b\x83O&\x83h\x83\x8D\x83" "b\x83v\x82\xB7\x82\xE9\x82\xC6";

// "元ファイルと同一フォルダにQuazファイルを生成します"
constexpr char INSTRUCTION_LINE_2[] =
    "\x8C\xB3\x83t\x83@\x83" "C\x83\x8B\x82\xC6\x93\xAF\x88\xEA\x83t\x83H\x83\x8B\x83_\x82\xC9"
    "Quaz\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x90\xB6\x90\xAC\x82\xB5\x82\xDC\x82\xB7";

constexpr std::size_t INSTRUCTION_LINE_1_LENGTH = sizeof INSTRUCTION_LINE_1 - 1;  // 54
constexpr std::size_t INSTRUCTION_LINE_2_LENGTH = sizeof INSTRUCTION_LINE_2 - 1;  // 50

// Where the two lines start in the client area.
constexpr int INSTRUCTION_X = 32;
constexpr int INSTRUCTION_LINE_1_Y = 50;
constexpr int INSTRUCTION_LINE_2_Y = 90;

constexpr int MAIN_WINDOW_WIDTH = 480;
constexpr int MAIN_WINDOW_HEIGHT = 224;

// The report the batch writes in the current directory, opened for the user
// with the verb "edit" after every drop.
constexpr char REPORT_FILE_NAME[] = "report.txt";
constexpr char REPORT_VERB[] = "edit";

#endif
