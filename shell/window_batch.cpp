#include "window_batch.h"

#include <process.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "block_cache.h"
#include "melno2quaz.h"
#include "temp_name.h"
#include "wide_text.h"
#include "window_texts.h"

namespace {

constexpr std::size_t LINE_CAPACITY = 256;
constexpr std::size_t NOTES_SHOWN = 4;  // files the window names; report.txt has the rest
constexpr std::size_t NOTE_CAPACITY = 3 * MAX_PATH;

// The one batch of the process. The batch's thread writes the progress
// under `lock` and the notes and summary only while it runs; the window's
// thread reads the notes and summary after the thread ended.
struct Batch {
    HANDLE thread = nullptr;  // the batches' thread, made once and kept
    HANDLE go = nullptr;      // set to start the next batch on it
    bool running = false;     // a batch was started and not finished
    HWND owner = nullptr;
    PathList paths{};
    std::atomic<bool> stop{false};
    CRITICAL_SECTION lock;
    BatchProgress progress{};
    BatchSummary summary{};
    std::array<std::array<wchar_t, NOTE_CAPACITY>, NOTES_SHOWN> notes{};
    std::size_t note_count = 0;  // files to tell of, shown or not
    BlockKeeper keeper{};        // the table the batches run on
};
Batch g_batch;

// Appends Shift-JIS text, converted.
void append_sjis(wchar_t* out, std::size_t out_size, const char* sjis, std::size_t length)
{
    std::array<wchar_t, LINE_CAPACITY * 2> line{};
    sjis_to_wide(sjis, length, line.data(), line.size());
    append_wide(out, out_size, line.data());
}

void append_sjis(wchar_t* out, std::size_t out_size, const char* sjis)
{
    append_sjis(out, out_size, sjis, std::strlen(sjis));
}

// Appends the last part of a UTF-8 path, its name without the folder.
void append_name(wchar_t* out, std::size_t out_size, const char* path)
{
    const char* name = path + folder_length(path, true);
    std::array<wchar_t, MAX_PATH> wide{};
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), static_cast<int>(wide.size())) <= 0) {
        wide[0] = L'\0';
    }
    append_wide(out, out_size, wide.data());
}

// "name: the code's text (Err:N)" for a failed file, "name → output
// (numbered)" for one written under a numbered name.
void compose_note(wchar_t* note, std::size_t size, const char* path, int32_t code, const char* message,
                  const FileOutcome* outcome)
{
    note[0] = L'\0';
    append_name(note, size, path);
    if (code == CONVERT_OK) {
        append_sjis(note, size, RESULT_ARROW_TEXT);
        append_name(note, size, outcome->output);
        append_sjis(note, size, RESULT_NUMBERED_TEXT);
        return;
    }
    append_wide(note, size, L": ");
    std::size_t length = std::strlen(message);
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n')) {
        --length;
    }
    append_sjis(note, size, message, length);
    std::array<char, 32> code_text{};
    std::snprintf(code_text.data(), code_text.size(), " (Err:%d)", static_cast<int>(code));
    append_sjis(note, size, code_text.data());
}

void on_file_starting(void* context, std::size_t index, std::size_t count, const char* path)
{
    Batch* batch = static_cast<Batch*>(context);
    EnterCriticalSection(&batch->lock);
    batch->progress.in_hand = index;
    batch->progress.count = count;
    batch->progress.name[0] = L'\0';
    append_name(batch->progress.name, MAX_PATH, path);
    LeaveCriticalSection(&batch->lock);
}

void on_file_done(void* context, std::size_t index, std::size_t count, const char* path, int32_t code,
                  const char* message, const FileOutcome* outcome)
{
    Batch* batch = static_cast<Batch*>(context);
    if (code != CONVERT_OK || outcome->numbered) {
        if (batch->note_count < NOTES_SHOWN) {
            compose_note(batch->notes[batch->note_count].data(), NOTE_CAPACITY, path, code, message, outcome);
        }
        ++batch->note_count;
    }
    EnterCriticalSection(&batch->lock);
    batch->progress.done = index;
    batch->progress.count = count;
    LeaveCriticalSection(&batch->lock);
}

// The batches' thread: one batch each time it is told to go. After
// WM_BATCH_DONE it touches nothing of the batch until the next go.
unsigned __stdcall run_batches(void* context)
{
    Batch* batch = static_cast<Batch*>(context);
    while (WaitForSingleObject(batch->go, INFINITE) == WAIT_OBJECT_0) {
        const BatchControl control{on_file_starting, batch, &batch->stop};
        process_dropped_files(batch->keeper.ops, batch->paths.paths, batch->paths.count, nullptr,
                              on_file_done, batch, &batch->summary, &control);
        PostMessageW(batch->owner, WM_BATCH_DONE, 0, 0);
    }
    return 0;
}

void append_line(wchar_t* out, std::size_t out_size, const char* sjis)
{
    append_sjis(out, out_size, sjis);
    append_wide(out, out_size, L"\r\n");
}

void append_report_not_written(wchar_t* out, std::size_t size)
{
    append_line(out, size, REPORT_NOT_WRITTEN_JAPANESE);
    append_line(out, size, REPORT_NOT_WRITTEN_ENGLISH);
    std::array<wchar_t, MAX_PATH + 1> folder{};
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size()) {
        folder[0] = L'\0';
    }
    append_wide(out, size, folder.data());
    append_wide(out, size, L"\r\n");
}

void append_counts(wchar_t* out, std::size_t size, const BatchSummary& summary)
{
    const unsigned long converted = static_cast<unsigned long>(summary.converted);
    const unsigned long failed = static_cast<unsigned long>(summary.failed);
    std::array<char, LINE_CAPACITY> counts{};
    std::snprintf(counts.data(), counts.size(), BATCH_COUNTS_JAPANESE_FORMAT, converted, failed);
    append_sjis(out, size, counts.data());
    append_wide(out, size, L" / ");
    std::snprintf(counts.data(), counts.size(), BATCH_COUNTS_ENGLISH_FORMAT, converted, failed);
    append_line(out, size, counts.data());
}

}  // namespace

bool prepare_window_batches()
{
    if (g_batch.thread != nullptr) {
        return true;
    }
    InitializeCriticalSection(&g_batch.lock);
    keep_freed_blocks(&g_batch.keeper);
    g_batch.go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const uintptr_t thread =
        g_batch.go != nullptr ? _beginthreadex(nullptr, 0, run_batches, &g_batch, 0, nullptr) : 0;
    g_batch.thread = reinterpret_cast<HANDLE>(thread);
    return g_batch.thread != nullptr;
}

bool start_window_batch(HWND owner, PathList* paths)
{
    if (g_batch.running || !prepare_window_batches()) {
        return false;
    }
    g_batch.owner = owner;
    g_batch.paths = *paths;
    g_batch.stop = false;
    g_batch.progress = BatchProgress{};
    g_batch.progress.count = paths->count;
    g_batch.summary = BatchSummary{0, 0, false, 0};
    g_batch.note_count = 0;
    g_batch.running = true;
    *paths = PathList{};
    SetEvent(g_batch.go);
    return true;
}

bool window_batch_running()
{
    return g_batch.running;
}

void stop_window_batch()
{
    g_batch.stop = true;
}

void window_batch_progress(BatchProgress* progress)
{
    EnterCriticalSection(&g_batch.lock);
    *progress = g_batch.progress;
    LeaveCriticalSection(&g_batch.lock);
}

bool finish_window_batch(wchar_t* results, std::size_t size)
{
    results[0] = L'\0';
    if (!g_batch.running) {
        return false;
    }
    g_batch.running = false;
    release_path_list(&g_batch.paths);
    release_kept_block(&g_batch.keeper);

    const BatchSummary& summary = g_batch.summary;
    if (!summary.report_written) {
        append_report_not_written(results, size);
    }
    append_counts(results, size, summary);
    for (std::size_t i = 0; i < g_batch.note_count && i < NOTES_SHOWN; ++i) {
        append_wide(results, size, g_batch.notes[i].data());
        append_wide(results, size, L"\r\n");
    }
    if (g_batch.note_count > NOTES_SHOWN) {
        const unsigned long more = static_cast<unsigned long>(g_batch.note_count - NOTES_SHOWN);
        std::array<char, LINE_CAPACITY> line{};
        std::snprintf(line.data(), line.size(), RESULT_MORE_FORMAT, more, more);
        append_line(results, size, line.data());
    }
    return summary.report_written;
}
