// The entry the page's worker calls (web/worker.js): one batch of chosen
// files, converted by the core on the in-memory table.
//
// The files the user chose are names in the folder /work whose bytes stay
// in the browser until the core reads them (MemoryFile::outside); each is
// read when its turn comes and dropped when it is closed. Each output is
// handed to the page as soon as its record is written and then dropped,
// its name kept taken, so a batch holds about one save at a time and names
// its outputs as the desktop programs do in a folder holding those files.
#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "melno2quaz.h"
#include "memory_platform.h"
#include "report.h"
#include "result_codes.h"
#include "temp_name.h"

namespace {

// The page's side (web/worker.js).
// The size of the chosen file `number`.
EM_JS(double, page_file_size, (long number), { return self.m2qFileSize(number); });
// Reads that file into `to` (room for its size); 0 when it cannot be read.
EM_JS(int, page_read_file, (long number, unsigned char* to), { return self.m2qReadFile(number, to); });
// One file's result: its record's text, the summary's fields (the name in
// Shift-JIS) and, when converted, the output.
EM_JS(void, page_file_done,
      (int index, int count, int code, const char* message, const char* name, int map,
       const char* time, const char* funds, const char* output, const unsigned char* bytes,
       int size),
      { self.m2qFileDone(index, count, code, message, name, map, time, funds, output, bytes, size); });
// Every file was converted; the outputs may now be written.
EM_JS(void, page_batch_converted, (), { self.m2qBatchConverted(); });
// The batch's report.txt (null when none was written) and every record's
// code, in the order chosen.
EM_JS(void, page_batch_done, (const unsigned char* bytes, int size, const int* codes, int count),
      { self.m2qBatchDone(bytes, size, codes, count); });

const char FOLDER[] = "/work";
// No report is made while the files are converted: it waits for the page.
const char NO_REPORT_FOLDER[] = "/no report yet";

// The record of a file chosen to convert, in the order chosen.
struct Record {
    std::string name;
    bool refused;  // its name was taken already: it is not converted
    int32_t code;
    std::string message;
};

std::vector<Record> g_records;
std::vector<std::string> g_paths;
std::vector<std::size_t> g_batch_to_record;  // a path's place among the records
std::size_t g_shown = 0;                     // records handed to the page so far
// The folder of the batch: the chosen files and the outputs.
MemoryPlatform g_memory{false, false};

std::uint64_t chosen_size(long number)
{
    return static_cast<std::uint64_t>(page_file_size(number));
}

// Read only once the core has found the size a save's: the bytes of any
// other file are never brought in.
bool fetch_chosen(long number, std::vector<unsigned char>* bytes)
{
    bytes->resize(static_cast<std::size_t>(chosen_size(number)));
    return page_read_file(number, bytes->data()) != 0;
}

MemoryFile* file_named(const std::string& path)
{
    const auto found = g_memory.files.find(memory_path(g_memory, path));
    return found == g_memory.files.end() ? nullptr : &found->second;
}

// The name of `path` without its folder.
const char* base_name(const char* path)
{
    return path + folder_length(path, g_memory.windows_paths);
}

// Hands the page the refused files' records before the record `until`.
void show_refused_until(std::size_t until)
{
    const CitySummary none{};
    for (; g_shown < until; ++g_shown) {
        const Record& record = g_records[g_shown];
        if (record.refused) {
            page_file_done(static_cast<int>(g_shown + 1), static_cast<int>(g_records.size()), record.code,
                           record.message.c_str(), none.city_name, 0, "", "", "", nullptr, 0);
        }
    }
}

void file_done(void*, std::size_t index, std::size_t, const char*, int32_t code,
               const char* message, const FileOutcome* outcome)
{
    const std::size_t at = g_batch_to_record[index - 1];
    show_refused_until(at);
    g_shown = at + 1;
    g_records[at].code = code;
    g_records[at].message = message;
    MemoryFile* output = outcome->output[0] != '\0' ? file_named(outcome->output) : nullptr;
    const CitySummary& summary = outcome->summary;
    page_file_done(static_cast<int>(at + 1), static_cast<int>(g_records.size()), code, message,
                   summary.city_name, static_cast<int>(summary.map_number), summary.game_time,
                   summary.funds_text, output != nullptr ? base_name(outcome->output) : "",
                   output != nullptr ? output->bytes.data() : nullptr,
                   output != nullptr ? static_cast<int>(output->bytes.size()) : 0);
    if (output != nullptr) {
        output->outside = OUTSIDE_GONE;
        std::vector<unsigned char>().swap(output->bytes);
    }
}

// Lets every name, byte and record of the batch go.
void forget_batch()
{
    memory_platform_reset(g_memory, false, false);
    g_records.clear();
    g_paths.clear();
    g_batch_to_record.clear();
    g_shown = 0;
}

}  // namespace

extern "C" {

// Starts a new batch in an empty folder.
EMSCRIPTEN_KEEPALIVE void m2q_page_begin()
{
    forget_batch();
    g_memory.utf8 = true;
    g_memory.outside_size = chosen_size;
    g_memory.fetch = fetch_chosen;
}

// Adds the chosen file `name` (UTF-8, no folder), the page's file `number`
// (the files are added in that order), to the batch; with `convert` 0 the
// name is only taken (another file of the folder). 1 when the name is no
// plain file name or is taken already: the file is not converted, and its
// record says it cannot be opened.
EMSCRIPTEN_KEEPALIVE int m2q_page_add_file(const char* name, long number, int convert)
{
    const std::string path = std::string(FOLDER) + "/" + name;
    const bool refused = name[0] == '\0' || std::strchr(name, '/') != nullptr ||
                         std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
                         file_named(path) != nullptr;
    if (convert != 0) {
        char message[MESSAGE_SIZE];
        set_result_text(ERR_NOT_SOURCE, message);
        g_records.push_back(Record{name, refused, ERR_NOT_SOURCE, refused ? message : ""});
    }
    if (refused) {
        return 1;
    }
    memory_file(g_memory, path).outside = number;
    if (convert != 0) {
        g_paths.push_back(name);
        g_batch_to_record.push_back(g_records.size() - 1);
    }
    return 0;
}

// Takes the name `name` for a folder of the folder converted.
EMSCRIPTEN_KEEPALIVE void m2q_page_add_folder(const char* name)
{
    memory_add_folder(g_memory, std::string(FOLDER) + "/" + name);
}

// Converts the files added, in the order added, as one batch, and hands
// every result to the page; the report waits for m2q_page_finish.
EMSCRIPTEN_KEEPALIVE void m2q_page_run()
{
    std::vector<const char*> paths;
    for (const std::string& path : g_paths) {
        paths.push_back(path.c_str());
    }
    process_dropped_files(g_memory.ops, paths.data(), paths.size(), NO_REPORT_FOLDER, file_done,
                          nullptr, nullptr);
    show_refused_until(g_records.size());
    page_batch_converted();
}

// Once the page has written the outputs: the records of the files at
// `failed` (places among the records, from 1; `count` of them) become the
// failures `codes` tells, and the report is made of every record and handed
// to the page with every record's code.
EMSCRIPTEN_KEEPALIVE void m2q_page_finish(const int* failed, const int* codes, int count)
{
    for (int i = 0; i < count; ++i) {
        if (failed[i] >= 1 && static_cast<std::size_t>(failed[i]) <= g_records.size() && codes[i] != 0) {
            Record& record = g_records[static_cast<std::size_t>(failed[i] - 1)];
            char message[MESSAGE_SIZE];
            set_result_text(codes[i], message);
            record.code = codes[i];
            record.message = message;
        }
    }
    Report report{};
    report_open(g_memory.ops, &report, nullptr);
    std::vector<int> final_codes;
    for (std::size_t i = 0; i < g_records.size(); ++i) {
        report_record(&report, i + 1, g_records.size(), g_records[i].name.c_str(), g_records[i].code,
                      g_records[i].message.c_str());
        final_codes.push_back(g_records[i].code);
    }
    const bool written = report_finish(&report, nullptr);
    MemoryFile* made = written ? file_named("report.txt") : nullptr;
    page_batch_done(made != nullptr ? made->bytes.data() : nullptr,
                    made != nullptr ? static_cast<int>(made->bytes.size()) : 0, final_codes.data(),
                    static_cast<int>(final_codes.size()));
    forget_batch();
}

}  // extern "C"
