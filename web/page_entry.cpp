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

// A file chosen, in the order chosen, and its record.
struct Chosen {
    std::string name;
    bool converted;  // false: only a name taken, or refused
    bool refused;    // its name was taken already
    int32_t code;
    std::string message;
};

std::vector<Chosen> g_chosen;
std::vector<std::string> g_paths;
std::vector<std::size_t> g_batch_to_chosen;  // a path's place among the chosen
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

// How many of the chosen files have a record, counted from 1.
int records_count()
{
    int count = 0;
    for (const Chosen& chosen : g_chosen) {
        count += chosen.converted || chosen.refused;
    }
    return count;
}

// The place among the records of the chosen file `at`, from 1.
int record_number(std::size_t at)
{
    int number = 0;
    for (std::size_t i = 0; i <= at; ++i) {
        number += g_chosen[i].converted || g_chosen[i].refused;
    }
    return number;
}

// Shows the refused files before the chosen file `until`.
std::size_t g_shown = 0;
void show_refused_until(std::size_t until)
{
    const CitySummary none{};
    for (; g_shown < until; ++g_shown) {
        Chosen& chosen = g_chosen[g_shown];
        if (chosen.refused) {
            page_file_done(record_number(g_shown), records_count(), chosen.code,
                           chosen.message.c_str(), none.city_name, 0, "", "", "", nullptr, 0);
        }
    }
}

void file_done(void*, std::size_t index, std::size_t, const char*, int32_t code,
               const char* message, const FileOutcome* outcome)
{
    const std::size_t at = g_batch_to_chosen[index - 1];
    show_refused_until(at);
    g_shown = at + 1;
    g_chosen[at].code = code;
    g_chosen[at].message = message;
    MemoryFile* output = outcome->output[0] != '\0' ? file_named(outcome->output) : nullptr;
    const CitySummary& summary = outcome->summary;
    page_file_done(record_number(at), records_count(), code, message,
                   summary.city_name, static_cast<int>(summary.map_number), summary.game_time,
                   summary.funds_text, output != nullptr ? base_name(outcome->output) : "",
                   output != nullptr ? output->bytes.data() : nullptr,
                   output != nullptr ? static_cast<int>(output->bytes.size()) : 0);
    if (output != nullptr) {
        output->outside = OUTSIDE_GONE;
        std::vector<unsigned char>().swap(output->bytes);
    }
}

}  // namespace

extern "C" {

// Starts a new batch in an empty folder.
EMSCRIPTEN_KEEPALIVE void m2q_page_begin()
{
    memory_platform_reset(g_memory, false, false);
    g_memory.utf8 = true;
    g_memory.outside_size = chosen_size;
    g_memory.fetch = fetch_chosen;
    g_paths.clear();
    g_chosen.clear();
    g_batch_to_chosen.clear();
    g_shown = 0;
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
    Chosen chosen{name, !refused && convert != 0, refused && convert != 0, ERR_NOT_SOURCE, ""};
    if (chosen.refused) {
        char message[MESSAGE_SIZE];
        set_result_text(ERR_NOT_SOURCE, message);
        chosen.message = message;
    }
    g_chosen.push_back(chosen);
    if (refused) {
        return 1;
    }
    memory_file(g_memory, path).outside = number;
    if (chosen.converted) {
        g_paths.push_back(name);
        g_batch_to_chosen.push_back(g_chosen.size() - 1);
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
    show_refused_until(g_chosen.size());
    page_batch_converted();
}

// Once the page has written the outputs: the records of the files at
// `failed` (places among the records, from 1; `count` of them) become the
// failures `codes` tells, and the report is made of every record and handed
// to the page with every record's code.
EMSCRIPTEN_KEEPALIVE void m2q_page_finish(const int* failed, const int* codes, int count)
{
    std::vector<Chosen*> records;
    for (Chosen& chosen : g_chosen) {
        if (chosen.converted || chosen.refused) {
            records.push_back(&chosen);
        }
    }
    for (int i = 0; i < count; ++i) {
        if (failed[i] >= 1 && static_cast<std::size_t>(failed[i]) <= records.size() && codes[i] != 0) {
            Chosen& chosen = *records[static_cast<std::size_t>(failed[i] - 1)];
            char message[MESSAGE_SIZE];
            set_result_text(codes[i], message);
            chosen.code = codes[i];
            chosen.message = message;
        }
    }
    Report report{};
    report_open(g_memory.ops, &report, nullptr);
    std::vector<int> final_codes;
    for (std::size_t i = 0; i < records.size(); ++i) {
        report_record(&report, i + 1, records.size(), records[i]->name.c_str(), records[i]->code,
                      records[i]->message.c_str());
        final_codes.push_back(records[i]->code);
    }
    const bool written = report_finish(&report, nullptr);
    MemoryFile* made = written ? file_named("report.txt") : nullptr;
    page_batch_done(made != nullptr ? made->bytes.data() : nullptr,
                    made != nullptr ? static_cast<int>(made->bytes.size()) : 0, final_codes.data(),
                    static_cast<int>(final_codes.size()));
    memory_platform_reset(g_memory, false, false);  // lets every name and byte go
    g_paths.clear();
    g_chosen.clear();
    g_batch_to_chosen.clear();
}

}  // extern "C"
