#include "fault_platform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

#include <gtest/gtest.h>

namespace m2q_test {

const char* platform_call_name(PlatformCall call) {
    static const char* const NAMES[PLATFORM_CALL_KINDS] = {
        "alloc", "free",  "open_read", "file_size", "read",    "create_temp", "write",
        "flush", "close", "remove",    "replace",   "look_up", "lead_byte"};
    return NAMES[static_cast<int>(call)];
}

const char* purpose_name(CallPurpose purpose) {
    static const char* const NAMES[CALL_PURPOSES] = {
        "none",   "batch-table", "source-list", "report-name",      "source", "output-owner",
        "output-name", "output", "written-identity", "report", "report-check", "check"};
    return NAMES[purpose];
}

Fault fault_on(PlatformCall call, int first, CallPurpose purpose) {
    Fault fault;
    fault.call = call;
    fault.first = first;
    fault.purpose = purpose;
    return fault;
}

namespace {

struct PlannedFault {
    Fault fault;
    int matched = 0;
};

// A file the table opened and has not seen closed.
struct OpenFile {
    std::string path;
    bool writable;  // from create_temp
};

struct FaultState {
    const PlatformOps* parent = nullptr;
    PlatformOps ops{};
    std::vector<PlannedFault> faults;
    std::array<int, PLATFORM_CALL_KINDS> counts{};
    std::vector<TraceEntry> trace;
    std::map<void*, std::size_t> blocks;
    std::map<PlatformFile, OpenFile> files;
    int applied = 0;
    std::vector<std::string> misuses;
    bool injected = false;  // a planned fault applied since take_error_text last asked
};

FaultState* g_state = nullptr;

const OpenFile* file_of(PlatformFile file) {
    const auto it = g_state->files.find(file);
    return it == g_state->files.end() ? nullptr : &it->second;
}

// Counts the call, logs it, and returns the fault to apply, if any.
const Fault* enter(PlatformCall call, const std::string& path, std::size_t size) {
    FaultState& s = *g_state;
    const CallPurpose purpose = platform_purpose();
    ++s.counts[static_cast<int>(call)];
    const Fault* chosen = nullptr;
    for (PlannedFault& planned : s.faults) {
        const Fault& f = planned.fault;
        if (f.call != call || (f.purpose != PURPOSE_NONE && f.purpose != purpose)) continue;
        if (call == PlatformCall::alloc && f.alloc_size != 0 && f.alloc_size != size) continue;
        const int n = ++planned.matched;
        if (chosen == nullptr && n >= f.first && n - f.first < f.times) chosen = &f;
    }
    if (chosen != nullptr) {
        ++s.applied;
        s.injected = true;
    }
    s.trace.push_back(TraceEntry{call, purpose, path, size, chosen != nullptr, 0});
    return chosen;
}

// Enters a call on an open file. Null (and a misuse noted) when the file is
// not open, or not open for what the call does.
const OpenFile* enter_on(PlatformCall call, PlatformFile file, std::size_t size, bool writing,
                         const Fault** fault) {
    const OpenFile* open = file_of(file);
    *fault = enter(call, open != nullptr ? open->path : std::string(), size);
    if (open == nullptr) {
        g_state->misuses.push_back(std::string(platform_call_name(call)) + " on a file not open");
        return nullptr;
    }
    if (open->writable != writing) {
        g_state->misuses.push_back(std::string(platform_call_name(call)) + " on " + open->path +
                                   (writing ? ", opened for reading" : ", opened for writing"));
        return nullptr;
    }
    return open;
}

PlatformFile opened(PlatformFile file, const std::string& path, bool writable) {
    if (file != NO_FILE) g_state->files[file] = OpenFile{path, writable};
    return file;
}

// Moves at most `size` bytes through `transfer`, or fails, as the fault says.
template <typename Transfer>
bool transfer_or_fail(const Fault* fault, bool misuse, std::uint32_t size, std::uint32_t* done,
                      Transfer transfer) {
    TraceEntry& entry = g_state->trace.back();
    bool ok = false;
    *done = 0;
    if (!misuse && fault == nullptr) {
        ok = transfer(size);
    } else if (!misuse && fault->short_to != NO_SHORT) {
        ok = transfer(std::min(size, fault->short_to));
    }
    entry.done = *done;
    return ok;
}

struct FaultCalls {
    static void* alloc_block(std::size_t size) {
        if (enter(PlatformCall::alloc, std::string(), size) != nullptr) return nullptr;
        void* block = g_state->parent->alloc_block(size);
        if (block != nullptr) g_state->blocks[block] = size;
        return block;
    }

    static void free_block(void* block) {
        enter(PlatformCall::free, std::string(), 0);
        if (block == nullptr) return;
        if (g_state->blocks.erase(block) == 0) {
            g_state->misuses.push_back("free of a block not allocated or already freed");
            return;
        }
        g_state->parent->free_block(block);
    }

    static PlatformFile open_read(const char* path) {
        if (enter(PlatformCall::open_read, path, 0) != nullptr) return NO_FILE;
        return opened(g_state->parent->open_read(path), path, false);
    }

    static std::uint64_t file_size(PlatformFile file) {
        const Fault* fault = nullptr;
        if (enter_on(PlatformCall::file_size, file, 0, false, &fault) == nullptr || fault != nullptr) {
            return 0;
        }
        return g_state->parent->file_size(file);
    }

    static bool read(PlatformFile file, void* buffer, std::uint32_t size, std::uint32_t* done) {
        const Fault* fault = nullptr;
        const bool misuse = enter_on(PlatformCall::read, file, size, false, &fault) == nullptr;
        return transfer_or_fail(fault, misuse, size, done, [&](std::uint32_t n) {
            return g_state->parent->read(file, buffer, n, done);
        });
    }

    // The temporary file goes by the name of the file it is to replace.
    static PlatformFile create_temp(const char* beside, const char* like, char* name,
                                    std::size_t name_size) {
        if (enter(PlatformCall::create_temp, beside, 0) != nullptr) {
            if (name_size > 0) name[0] = '\0';
            return NO_FILE;
        }
        return opened(g_state->parent->create_temp(beside, like, name, name_size), beside, true);
    }

    static bool write(PlatformFile file, const void* data, std::uint32_t size, std::uint32_t* done) {
        const Fault* fault = nullptr;
        const bool misuse = enter_on(PlatformCall::write, file, size, true, &fault) == nullptr;
        return transfer_or_fail(fault, misuse, size, done, [&](std::uint32_t n) {
            return g_state->parent->write(file, data, n, done);
        });
    }

    // Counted and failed like every call, but never sent to the disk: the
    // tests see no difference, and a flush per file would make hundreds of
    // batches wait on the disk (seconds under Wine).
    static bool flush(PlatformFile file) {
        const Fault* fault = nullptr;
        return enter_on(PlatformCall::flush, file, 0, true, &fault) != nullptr && fault == nullptr;
    }

    static bool close(PlatformFile file) {
        const OpenFile* open = file_of(file);
        const Fault* fault = enter(PlatformCall::close, open != nullptr ? open->path : std::string(), 0);
        if (open == nullptr) {
            g_state->misuses.push_back("close of a file not open");
            return false;
        }
        g_state->files.erase(file);
        const bool closed = g_state->parent->close(file);
        return fault == nullptr && closed;
    }

    static bool remove_file(const char* path) {
        if (enter(PlatformCall::remove, path, 0) != nullptr) return false;
        return g_state->parent->remove_file(path);
    }

    static ReplaceResult replace_file(const char* from, const char* to) {
        const Fault* fault = enter(PlatformCall::replace, to, 0);
        if (fault != nullptr) return fault->refuse ? REPLACE_REFUSED : REPLACE_FAILED;
        return g_state->parent->replace_file(from, to);
    }

    static bool look_up(const char* path, NameInfo* info) {
        const Fault* fault = enter(PlatformCall::look_up, path, 0);
        if (fault == nullptr) return g_state->parent->look_up(path, info);
        if (!fault->refuse) return false;
        *info = NameInfo{};
        info->kind = NAME_REGULAR;
        info->read_only = true;
        std::snprintf(info->target, sizeof info->target, "%s", path);
        return true;
    }

    static bool meant_path(const char* path, char* meant, std::size_t size) {
        return g_state->parent->meant_path(path, meant, size);
    }

    static bool is_lead_byte(unsigned char byte) {
        ++g_state->counts[static_cast<int>(PlatformCall::lead_byte)];
        return g_state->parent->is_lead_byte(byte);
    }

    static bool path_fits(const char* path) { return g_state->parent->path_fits(path); }

    // A planned fault has no words of the system: it is named as what it is.
    static std::size_t take_error_text(char* text, std::size_t size) {
        if (!g_state->injected) return g_state->parent->take_error_text(text, size);
        g_state->injected = false;
        g_state->parent->take_error_text(nullptr, 0);
        if (text == nullptr || size == 0) return 0;
        const int length = std::snprintf(text, size, "%s", "injected failure");
        return std::min(static_cast<std::size_t>(length), size - 1);
    }

    static std::size_t character_to_cp932(const char* text, std::size_t left, char* out,
                                          std::size_t* taken) {
        return g_state->parent->character_to_cp932(text, left, out, taken);
    }
};

}  // namespace

FaultyPlatform::FaultyPlatform() {
    if (g_state != nullptr) {
        ADD_FAILURE() << "a FaultyPlatform is already installed";
        return;
    }
    g_state = new FaultState;
    g_state->parent = &platform();
    g_state->ops = platform_ops_of<FaultCalls>(g_state->parent->windows_paths);
    platform_install(&g_state->ops);
}

FaultyPlatform::~FaultyPlatform() {
    platform_install(g_state->parent == &platform_native() ? nullptr : g_state->parent);
    delete g_state;
    g_state = nullptr;
}

void FaultyPlatform::add_fault(const Fault& fault) { g_state->faults.push_back(PlannedFault{fault, 0}); }

int FaultyPlatform::calls(PlatformCall call) const { return g_state->counts[static_cast<int>(call)]; }

int FaultyPlatform::calls_for(PlatformCall call, CallPurpose purpose) const {
    return static_cast<int>(std::count_if(g_state->trace.begin(), g_state->trace.end(),
                                          [&](const TraceEntry& entry) {
                                              return entry.call == call && entry.purpose == purpose;
                                          }));
}

int FaultyPlatform::faults_applied() const { return g_state->applied; }
const std::vector<TraceEntry>& FaultyPlatform::trace() const { return g_state->trace; }
std::size_t FaultyPlatform::live_blocks() const { return g_state->blocks.size(); }

std::size_t FaultyPlatform::live_bytes() const {
    std::size_t total = 0;
    for (const auto& block : g_state->blocks) total += block.second;
    return total;
}

std::size_t FaultyPlatform::open_files() const { return g_state->files.size(); }

std::vector<std::string> FaultyPlatform::open_paths() const {
    std::vector<std::string> paths;
    for (const auto& file : g_state->files) paths.push_back(file.second.path);
    return paths;
}

const std::vector<std::string>& FaultyPlatform::misuses() const { return g_state->misuses; }

}  // namespace m2q_test
