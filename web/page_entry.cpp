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
// The batch's report.txt (null when none was written).
EM_JS(void, page_batch_done, (const unsigned char* bytes, int size),
      { self.m2qBatchDone(bytes, size); });

const char FOLDER[] = "/work";

std::vector<std::string> g_paths;
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

void file_done(void*, std::size_t index, std::size_t count, const char*, int32_t code,
               const char* message, const FileOutcome* outcome)
{
    MemoryFile* output = outcome->output[0] != '\0' ? file_named(outcome->output) : nullptr;
    const CitySummary& summary = outcome->summary;
    page_file_done(static_cast<int>(index), static_cast<int>(count), code, message,
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
}

// Adds the chosen file `name` (UTF-8, no folder), the page's file `number`,
// to the batch; with `convert` 0 the name is only taken (another file of
// the folder). 1 when the name is no plain file name or is taken already.
EMSCRIPTEN_KEEPALIVE int m2q_page_add_file(const char* name, long number, int convert)
{
    const std::string path = std::string(FOLDER) + "/" + name;
    if (name[0] == '\0' || std::strchr(name, '/') != nullptr || std::strcmp(name, ".") == 0 ||
        std::strcmp(name, "..") == 0 || file_named(path) != nullptr) {
        return 1;
    }
    memory_file(g_memory, path).outside = number;
    if (convert != 0) {
        g_paths.push_back(name);
    }
    return 0;
}

// Takes the name `name` for a folder of the folder converted.
EMSCRIPTEN_KEEPALIVE void m2q_page_add_folder(const char* name)
{
    memory_add_folder(g_memory, std::string(FOLDER) + "/" + name);
}

// Converts the files added, in the order added, as one batch, and hands
// every result and then the report to the page.
EMSCRIPTEN_KEEPALIVE void m2q_page_run()
{
    std::vector<const char*> paths;
    for (const std::string& path : g_paths) {
        paths.push_back(path.c_str());
    }
    BatchSummary summary{};
    process_dropped_files(g_memory.ops, paths.data(), paths.size(), nullptr, file_done, nullptr, &summary);
    MemoryFile* report = summary.report_written ? file_named("report.txt") : nullptr;
    page_batch_done(report != nullptr ? report->bytes.data() : nullptr,
                    report != nullptr ? static_cast<int>(report->bytes.size()) : 0);
    memory_platform_reset(g_memory, false, false);  // lets every name and byte go
    g_paths.clear();
}

}  // extern "C"
