#include "window_batch.h"

#include <shellapi.h>

#include <array>
#include <cstdio>

#include "melno2quaz.h"
#include "wide_text.h"
#include "window_texts.h"

namespace {

constexpr std::size_t TITLE_CAPACITY = 64;
constexpr std::size_t LINE_CAPACITY = 256;
constexpr std::size_t MESSAGE_CAPACITY = 2048;

// Appends Shift-JIS text, converted, and a line end.
void append_line(wchar_t* out, std::size_t out_size, const char* sjis)
{
    std::array<wchar_t, LINE_CAPACITY> line{};
    std::size_t length = 0;
    while (sjis[length] != '\0') {
        ++length;
    }
    sjis_to_wide(sjis, length, line.data(), line.size());
    append_wide(out, out_size, line.data());
    append_wide(out, out_size, L"\r\n");
}

void show_message(HWND owner, const wchar_t* text)
{
    std::array<wchar_t, TITLE_CAPACITY> title{};
    sjis_to_wide(MAIN_WINDOW_TITLE, MAIN_WINDOW_TITLE_LENGTH, title.data(), title.size());
    MessageBoxW(owner, text, title.data(), MB_OK | MB_ICONWARNING);
}

void tell_report_not_written(HWND owner, const BatchSummary& summary)
{
    std::array<wchar_t, MESSAGE_CAPACITY> text{};
    append_line(text.data(), text.size(), REPORT_NOT_WRITTEN_JAPANESE);
    append_line(text.data(), text.size(), REPORT_NOT_WRITTEN_ENGLISH);

    std::array<wchar_t, MAX_PATH + 1> folder{};
    const DWORD folder_length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (folder_length == 0 || folder_length >= folder.size()) {
        folder[0] = L'\0';
    }
    append_wide(text.data(), text.size(), folder.data());
    append_wide(text.data(), text.size(), L"\r\n\r\n");

    const unsigned long converted = static_cast<unsigned long>(summary.converted);
    const unsigned long failed = static_cast<unsigned long>(summary.failed);
    std::array<char, LINE_CAPACITY> counts{};
    std::snprintf(counts.data(), counts.size(), BATCH_COUNTS_JAPANESE_FORMAT, converted, failed);
    append_line(text.data(), text.size(), counts.data());
    std::snprintf(counts.data(), counts.size(), BATCH_COUNTS_ENGLISH_FORMAT, converted, failed);
    append_line(text.data(), text.size(), counts.data());
    show_message(owner, text.data());
}

}  // namespace

void run_window_batch(HWND owner, const char* const* paths, std::size_t count)
{
    BatchSummary summary{0, 0, false};
    process_dropped_files(platform_native(), paths, count, nullptr, nullptr, nullptr, &summary);
    if (summary.report_written) {
        ShellExecuteW(owner, REPORT_VERB_WIDE, REPORT_FILE_NAME_WIDE, nullptr, nullptr, SW_SHOWNORMAL);
    } else {
        tell_report_not_written(owner, summary);
    }
}

void tell_paths_not_taken(HWND owner)
{
    std::array<wchar_t, MESSAGE_CAPACITY> text{};
    append_line(text.data(), text.size(), PATHS_NOT_TAKEN_JAPANESE);
    append_line(text.data(), text.size(), PATHS_NOT_TAKEN_ENGLISH);
    show_message(owner, text.data());
}
