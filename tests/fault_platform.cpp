#include "fault_platform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace m2q_test {

const char* platform_call_name(PlatformCall call) {
    static const char* const NAMES[PLATFORM_CALL_KINDS] = {
        "alloc", "free", "open_read", "file_size", "read",    "create_temp", "write",
        "flush", "keep", "close",     "remove",    "replace", "look_up",     "lead_byte"};
    return NAMES[static_cast<int>(call)];
}

Fault fault_on(PlatformCall call, int first, const std::string& path_part) {
    Fault fault;
    fault.call = call;
    fault.first = first;
    fault.path_part = path_part;
    return fault;
}

Fault fault_at(PlatformCall call, long sequence) {
    Fault fault;
    fault.call = call;
    fault.sequence = sequence;
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

}  // namespace

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

namespace {

FaultState& state_of(void* context) {
    return *static_cast<FaultState*>(context);
}

const OpenFile* file_of(FaultState& s, PlatformFile file) {
    const auto it = s.files.find(file);
    return it == s.files.end() ? nullptr : &it->second;
}

// Counts the call, logs it, and returns the fault to apply, if any.
const Fault* enter(FaultState& s, PlatformCall call, const std::string& path, std::size_t size) {
    ++s.counts[static_cast<int>(call)];
    const long place = static_cast<long>(s.trace.size());
    const Fault* chosen = nullptr;
    for (PlannedFault& planned : s.faults) {
        const Fault& f = planned.fault;
        if (f.call != call || path.find(f.path_part) == std::string::npos) continue;
        if (call == PlatformCall::alloc && f.alloc_size != 0 && f.alloc_size != size) continue;
        if (f.sequence >= 0) {
            if (chosen == nullptr && f.sequence == place) chosen = &f;
            continue;
        }
        const int n = ++planned.matched;
        if (chosen == nullptr && n >= f.first && n - f.first < f.times) chosen = &f;
    }
    if (chosen != nullptr) {
        ++s.applied;
        s.injected = true;
    }
    s.trace.push_back(TraceEntry{call, path, size, chosen != nullptr, 0});
    return chosen;
}

// Enters a call on an open file. Null (and a misuse noted) when the file is
// not open, or not open for what the call does.
const OpenFile* enter_on(FaultState& s, PlatformCall call, PlatformFile file, std::size_t size, bool writing,
                         const Fault** fault) {
    const OpenFile* open = file_of(s, file);
    *fault = enter(s, call, open != nullptr ? open->path : std::string(), size);
    if (open == nullptr) {
        s.misuses.push_back(std::string(platform_call_name(call)) + " on a file not open");
        return nullptr;
    }
    if (open->writable != writing) {
        s.misuses.push_back(std::string(platform_call_name(call)) + " on " + open->path +
                                   (writing ? ", opened for reading" : ", opened for writing"));
        return nullptr;
    }
    return open;
}

PlatformFile opened(FaultState& s, PlatformFile file, const std::string& path, bool writable) {
    if (file != NO_FILE) s.files[file] = OpenFile{path, writable};
    return file;
}

// Moves at most `size` bytes through `transfer`, or fails, as the fault says.
template <typename Transfer>
bool transfer_or_fail(FaultState& s, const Fault* fault, bool misuse, std::uint32_t size, std::uint32_t* done,
                      Transfer transfer) {
    TraceEntry& entry = s.trace.back();
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
    static void* alloc_block(void* context, std::size_t size) {
        FaultState& s = state_of(context);
        if (enter(s, PlatformCall::alloc, std::string(), size) != nullptr) return nullptr;
        void* block = s.parent->alloc_block(s.parent->context, size);
        if (block != nullptr) s.blocks[block] = size;
        return block;
    }

    static void free_block(void* context, void* block) {
        FaultState& s = state_of(context);
        enter(s, PlatformCall::free, std::string(), 0);
        if (block == nullptr) return;
        if (s.blocks.erase(block) == 0) {
            s.misuses.push_back("free of a block not allocated or already freed");
            return;
        }
        s.parent->free_block(s.parent->context, block);
    }

    static PlatformFile open_read(void* context, const char* path) {
        FaultState& s = state_of(context);
        if (enter(s, PlatformCall::open_read, path, 0) != nullptr) return NO_FILE;
        return opened(s, s.parent->open_read(s.parent->context, path), path, false);
    }

    static std::uint64_t file_size(void* context, PlatformFile file) {
        FaultState& s = state_of(context);
        const Fault* fault = nullptr;
        if (enter_on(s, PlatformCall::file_size, file, 0, false, &fault) == nullptr || fault != nullptr) {
            return 0;
        }
        return s.parent->file_size(s.parent->context, file);
    }

    static bool read(void* context, PlatformFile file, void* buffer, std::uint32_t size,
                     std::uint32_t* done) {
        FaultState& s = state_of(context);
        const Fault* fault = nullptr;
        const bool misuse = enter_on(s, PlatformCall::read, file, size, false, &fault) == nullptr;
        return transfer_or_fail(s, fault, misuse, size, done, [&](std::uint32_t n) {
            return s.parent->read(s.parent->context, file, buffer, n, done);
        });
    }

    // The temporary file goes by the name of the file it is to replace.
    static PlatformFile create_temp(void* context, const char* beside, const char* like, char* name,
                                    std::size_t name_size) {
        FaultState& s = state_of(context);
        if (enter(s, PlatformCall::create_temp, beside, 0) != nullptr) {
            if (name_size > 0) name[0] = '\0';
            return NO_FILE;
        }
        return opened(s, s.parent->create_temp(s.parent->context, beside, like, name, name_size), beside, true);
    }

    static bool write(void* context, PlatformFile file, const void* data, std::uint32_t size,
                      std::uint32_t* done) {
        FaultState& s = state_of(context);
        const Fault* fault = nullptr;
        const bool misuse = enter_on(s, PlatformCall::write, file, size, true, &fault) == nullptr;
        return transfer_or_fail(s, fault, misuse, size, done, [&](std::uint32_t n) {
            return s.parent->write(s.parent->context, file, data, n, done);
        });
    }

    // Counted and failed like every call, but never sent to the disk: the
    // tests see no difference, and a flush per file would make hundreds of
    // batches wait on the disk (seconds under Wine).
    static bool flush(void* context, PlatformFile file) {
        FaultState& s = state_of(context);
        const Fault* fault = nullptr;
        return enter_on(s, PlatformCall::flush, file, 0, true, &fault) != nullptr && fault == nullptr;
    }

    static bool keep_temp(void* context, PlatformFile file, const char* name) {
        FaultState& s = state_of(context);
        const Fault* fault = nullptr;
        if (enter_on(s, PlatformCall::keep, file, 0, true, &fault) == nullptr || fault != nullptr) {
            return false;
        }
        return s.parent->keep_temp(s.parent->context, file, name);
    }

    static bool close(void* context, PlatformFile file) {
        FaultState& s = state_of(context);
        const OpenFile* open = file_of(s, file);
        const Fault* fault = enter(s, PlatformCall::close, open != nullptr ? open->path : std::string(), 0);
        if (open == nullptr) {
            s.misuses.push_back("close of a file not open");
            return false;
        }
        s.files.erase(file);
        const bool closed = s.parent->close(s.parent->context, file);
        return fault == nullptr && closed;
    }

    static bool remove_file(void* context, const char* path) {
        FaultState& s = state_of(context);
        if (enter(s, PlatformCall::remove, path, 0) != nullptr) return false;
        return s.parent->remove_file(s.parent->context, path);
    }

    static ReplaceResult replace_file(void* context, const char* from, const char* to) {
        FaultState& s = state_of(context);
        const Fault* fault = enter(s, PlatformCall::replace, to, 0);
        if (fault != nullptr) return fault->refuse ? REPLACE_REFUSED : REPLACE_FAILED;
        return s.parent->replace_file(s.parent->context, from, to);
    }

    static bool look_up(void* context, const char* path, NameInfo* info) {
        FaultState& s = state_of(context);
        const Fault* fault = enter(s, PlatformCall::look_up, path, 0);
        if (fault == nullptr) return s.parent->look_up(s.parent->context, path, info);
        if (!fault->refuse) return false;
        *info = NameInfo{};
        info->kind = NAME_REGULAR;
        info->read_only = true;
        std::snprintf(info->target, sizeof info->target, "%s", path);
        return true;
    }

    static bool meant_path(void* context, const char* path, char* meant, std::size_t size) {
        FaultState& s = state_of(context);
        return s.parent->meant_path(s.parent->context, path, meant, size);
    }

    static bool is_lead_byte(void* context, unsigned char byte) {
        FaultState& s = state_of(context);
        ++s.counts[static_cast<int>(PlatformCall::lead_byte)];
        return s.parent->is_lead_byte(s.parent->context, byte);
    }

    static bool path_fits(void* context, const char* path) {
        FaultState& s = state_of(context);
        return s.parent->path_fits(s.parent->context, path);
    }

    // A planned fault has no words of the system: it is named as what it is.
    static std::size_t take_error_text(void* context, char* text, std::size_t size) {
        FaultState& s = state_of(context);
        if (!s.injected) return s.parent->take_error_text(s.parent->context, text, size);
        s.injected = false;
        s.parent->take_error_text(s.parent->context, nullptr, 0);
        if (text == nullptr || size == 0) return 0;
        const int length = std::snprintf(text, size, "%s", "injected failure");
        return std::min(static_cast<std::size_t>(length), size - 1);
    }

    static std::size_t character_to_cp932(void* context, const char* text, std::size_t left,
                                          char* out,
                                          std::size_t* taken) {
        FaultState& s = state_of(context);
        return s.parent->character_to_cp932(s.parent->context, text, left, out, taken);
    }
};

}  // namespace

FaultyPlatform::FaultyPlatform(const PlatformOps& parent) : state_(new FaultState) {
    state_->parent = &parent;
    state_->ops = platform_ops_with<FaultCalls>(state_.get(), parent.windows_paths);
}

FaultyPlatform::~FaultyPlatform() = default;

const PlatformOps& FaultyPlatform::ops() const { return state_->ops; }

void FaultyPlatform::add_fault(const Fault& fault) { state_->faults.push_back(PlannedFault{fault, 0}); }

int FaultyPlatform::calls(PlatformCall call) const { return state_->counts[static_cast<int>(call)]; }

int FaultyPlatform::calls_for(PlatformCall call, const std::string& path_part) const {
    return static_cast<int>(std::count_if(state_->trace.begin(), state_->trace.end(),
                                          [&](const TraceEntry& entry) {
                                              return entry.call == call &&
                                                     entry.path.find(path_part) != std::string::npos;
                                          }));
}

int FaultyPlatform::faults_applied() const { return state_->applied; }
const std::vector<TraceEntry>& FaultyPlatform::trace() const { return state_->trace; }
std::size_t FaultyPlatform::live_blocks() const { return state_->blocks.size(); }

std::size_t FaultyPlatform::live_bytes() const {
    std::size_t total = 0;
    for (const auto& block : state_->blocks) total += block.second;
    return total;
}

std::size_t FaultyPlatform::open_files() const { return state_->files.size(); }

std::vector<std::string> FaultyPlatform::open_paths() const {
    std::vector<std::string> paths;
    for (const auto& file : state_->files) paths.push_back(file.second.path);
    return paths;
}

const std::vector<std::string>& FaultyPlatform::misuses() const { return state_->misuses; }

}  // namespace m2q_test
