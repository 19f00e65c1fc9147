// A table that wraps another (the native one, or an in-memory one) the way a
// test file system wraps a real one: it logs every call in order, counts
// blocks and open files, and makes chosen calls fail, by their place in
// the sequence of calls or by their kind and path. It adds nothing to the
// core's interface. Its state is the table's context, so any number of
// them can run at once.
#ifndef MELNO2QUAZ_FAULT_PLATFORM_H
#define MELNO2QUAZ_FAULT_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"

namespace m2q_test {

// The operations of PlatformOps, for counting and for choosing a fault.
enum class PlatformCall {
    alloc,
    free,
    open_read,
    file_size,
    read,
    create_temp,
    write,
    flush,
    keep,
    close,
    remove,
    replace,
    look_up,
    lead_byte,
};
constexpr int PLATFORM_CALL_KINDS = 14;
const char* platform_call_name(PlatformCall call);

constexpr int FAULT_FOREVER = std::numeric_limits<int>::max();
constexpr std::uint32_t NO_SHORT = std::numeric_limits<std::uint32_t>::max();

// One planned fault. Calls of `call` that match the filters are counted from
// 1; the calls `first` ... `first + times - 1` of them are affected. With
// `sequence`, only the call at that place of the log (from 0) is.
//   alloc        -> null, nothing allocated
//   open_read    -> NO_FILE, create_temp -> NO_FILE, nothing opened
//   file_size     -> 0
//   read, write  -> false with a count of 0, nothing moved; or, with
//                   `short_to` set, success after moving at most `short_to`
//                   bytes, the count telling how many
//   flush        -> false (a flush that does not fail succeeds without
//                   waiting for the disk)
//   keep         -> false (the file is gone once closed)
//   close        -> the file is closed all the same, but false is returned
//   remove       -> false, nothing removed
//   replace      -> REPLACE_FAILED (REPLACE_REFUSED with `refuse`), nothing moved
//   look_up      -> false (with `refuse`: a read-only regular file is there)
struct Fault {
    PlatformCall call = PlatformCall::alloc;
    int first = 1;
    int times = 1;
    // Only calls whose path holds this text; empty: every call.
    std::string path_part;
    // Only the call at this place of the log; -1: by `first` and `times`.
    long sequence = -1;
    // alloc only: only blocks of this size. 0: every size.
    std::size_t alloc_size = 0;
    std::uint32_t short_to = NO_SHORT;
    bool refuse = false;
};

// A fault on the `first`-th call of `call` whose path holds `path_part`.
Fault fault_on(PlatformCall call, int first = 1, const std::string& path_part = std::string());
// A fault on the call at place `sequence` of the log, which is a `call`.
Fault fault_at(PlatformCall call, long sequence);

// One call as it reached the table.
struct TraceEntry {
    PlatformCall call;
    std::string path;     // the file's path where there is one; a temporary
                          // file goes by the name it is to replace
    std::size_t size;     // alloc size, or bytes asked for by read and write
    bool failed;          // a planned fault was applied
    std::uint32_t done;   // read, write: the bytes the core was told moved
};

struct FaultState;

// The wrapping table over `parent`, which must outlive it; hand the core
// ops().
class FaultyPlatform {
public:
    explicit FaultyPlatform(const PlatformOps& parent);
    ~FaultyPlatform();
    FaultyPlatform(const FaultyPlatform&) = delete;
    FaultyPlatform& operator=(const FaultyPlatform&) = delete;

    const PlatformOps& ops() const;
    void add_fault(const Fault& fault);

    int calls(PlatformCall call) const;
    // Calls of `call` whose path holds `path_part`.
    int calls_for(PlatformCall call, const std::string& path_part) const;
    int faults_applied() const;
    const std::vector<TraceEntry>& trace() const;

    // Blocks from alloc not yet freed, and their bytes.
    std::size_t live_blocks() const;
    std::size_t live_bytes() const;
    // Files opened and not yet closed, and their paths.
    std::size_t open_files() const;
    std::vector<std::string> open_paths() const;
    // Uses by the core of what this table never handed out or already took
    // back: frees of unknown blocks, closes of files not open, file_size and
    // read on files not open for reading, write on files not open for
    // writing. None of them reaches the table below (a second free or close
    // could hit a block or file reused meanwhile); each fails and is
    // described here. Should stay empty.
    const std::vector<std::string>& misuses() const;

private:
    std::unique_ptr<FaultState> state_;
};

}  // namespace m2q_test

#endif
