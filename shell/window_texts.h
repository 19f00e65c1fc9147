// The fixed texts of the main window, in Shift-JIS (code page 932). They are
// shown through the wide calls after conversion from code page 932, so they
// read the same on every system code page.
#ifndef MELNO2QUAZ_WINDOW_TEXTS_H
#define MELNO2QUAZ_WINDOW_TEXTS_H

#include <cstddef>

constexpr char MAIN_WINDOW_CLASS[] = "cnvtmelnotoquaz";
constexpr wchar_t MAIN_WINDOW_CLASS_WIDE[] = L"cnvtmelnotoquaz";

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

constexpr std::size_t MAIN_WINDOW_TITLE_LENGTH = sizeof MAIN_WINDOW_TITLE - 1;    // 20
constexpr std::size_t INSTRUCTION_LINE_1_LENGTH = sizeof INSTRUCTION_LINE_1 - 1;  // 54
constexpr std::size_t INSTRUCTION_LINE_2_LENGTH = sizeof INSTRUCTION_LINE_2 - 1;  // 50

// Where the two lines start in the client area, at 96 dpi (scaled to the
// window's DPI).
constexpr int INSTRUCTION_X = 32;
constexpr int INSTRUCTION_LINE_1_Y = 50;
constexpr int INSTRUCTION_LINE_2_Y = 90;

// The window's outer width at 96 dpi, and the height of its client area:
// the two lines, then the controls from CONTROLS_TOP down. At other DPIs
// the client area scales.
constexpr int MAIN_WINDOW_WIDTH = 480;
constexpr int MAIN_WINDOW_CLIENT_HEIGHT = 344;
constexpr int CONTROLS_TOP = 124;

// The report the batch writes in the current directory, opened for the user
// with the verb "edit" after a batch that wrote it.
constexpr wchar_t REPORT_FILE_NAME_WIDE[] = L"report.txt";
constexpr wchar_t REPORT_VERB_WIDE[] = L"edit";

// The result lines when report.txt could not be written, Japanese with
// the English beside it; the folder (the current directory) goes between
// these lines and the counts. The counts of every batch, converted and
// failed files, the Japanese, " / ", the English.
// "report.txtをこのフォルダに書き込めませんでした。"
constexpr char REPORT_NOT_WRITTEN_JAPANESE[] =
    "report.txt\x82\xF0\x82\xB1\x82\xCC\x83t\x83H\x83\x8B\x83_\x82\xC9\x8F\x91\x82\xAB\x8D\x9E"
    "\x82\xDF\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81" "B";
constexpr char REPORT_NOT_WRITTEN_ENGLISH[] = "report.txt could not be written in this folder:";
// "変換: %lu 件、失敗: %lu 件"
constexpr char BATCH_COUNTS_JAPANESE_FORMAT[] =
    "\x95\xCF\x8A\xB7: %lu \x8C\x8F\x81" "A\x8E\xB8\x94s: %lu \x8C\x8F";
constexpr char BATCH_COUNTS_ENGLISH_FORMAT[] = "Converted: %lu, failed: %lu";

// The controls below the two lines. Each text is Japanese, then English.
// "ファイルを選ぶ… / Choose files…"
constexpr char CHOOSE_BUTTON_TEXT[] =
    "\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x91I\x82\xD4\x81" "c / Choose files\x81" "c";
// "中止 (Esc) / Stop"
constexpr char STOP_BUTTON_TEXT[] = "\x92\x86\x8E~ (Esc) / Stop";
// Shown while a batch runs, when the window takes no drop:
// "変換の終了後に次のファイルをドロップしてください / Drop more files when this batch is done"
constexpr char DROP_LATER_TEXT[] =
    "\x95\xCF\x8A\xB7\x82\xCC\x8FI\x97\xB9\x8C\xE3\x82\xC9\x8E\x9F\x82\xCC\x83t\x83@\x83" "C"
    "\x83\x8B\x82\xF0\x83h\x83\x8D\x83" "b\x83v\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2"
    " / Drop more files when this batch is done";
// The progress line once a stop was asked: "中止しています… / Stopping…"
constexpr char STOPPING_TEXT[] =
    "\x92\x86\x8E~\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81" "c / Stopping\x81" "c";
// After a file's name and its output's name, for a save written under a
// numbered name: " → " and "（番号付きの名前） / numbered name"
constexpr char RESULT_ARROW_TEXT[] = " \x81\xA8 ";
constexpr char RESULT_NUMBERED_TEXT[] =
    " \x81i\x94\xD4\x8D\x86\x95t\x82\xAB\x82\xCC\x96\xBC\x91O\x81j / numbered name";
// The last result line when more files are to be told than the window
// shows: "ほか %lu 件は report.txt を参照 / %lu more: see report.txt"
constexpr char RESULT_MORE_FORMAT[] =
    "\x82\xD9\x82\xA9 %lu \x8C\x8F\x82\xCD report.txt \x82\xF0\x8EQ\x8F\xC6 / %lu more: see report.txt";

// The Open dialog: its title "ファイルを選ぶ / Choose files", and its two
// filters, "Melnoセーブデータ / Melno saves (*.psu)" and
// "すべてのファイル / All files (*.*)".
constexpr char OPEN_DIALOG_TITLE[] =
    "\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x91I\x82\xD4 / Choose files";
constexpr char OPEN_FILTER_SAVES[] =
    "Melno\x83Z\x81[\x83u\x83" "f\x81[\x83^ / Melno saves (*.psu)";
constexpr char OPEN_FILTER_ALL[] =
    "\x82\xB7\x82\xD7\x82\xC4\x82\xCC\x83t\x83@\x83" "C\x83\x8B / All files (*.*)";

// The message box shown when there was no memory to take the paths of a
// drop or of the command line; nothing was converted then.
// "メモリが足りないため、ファイルを変換できませんでした。"
constexpr char PATHS_NOT_TAKEN_JAPANESE[] =
    "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xC8\x82\xA2\x82\xBD\x82\xDF\x81" "A"
    "\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x95\xCF\x8A\xB7\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1"
    "\x82\xC5\x82\xB5\x82\xBD\x81" "B";
constexpr char PATHS_NOT_TAKEN_ENGLISH[] =
    "There is not enough memory to take the files; nothing was converted.";

#endif
