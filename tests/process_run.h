// Running a real program of the build as a child process and capturing
// what it prints, for the end-to-end tests.
#ifndef MELNO2QUAZ_PROCESS_RUN_H
#define MELNO2QUAZ_PROCESS_RUN_H

#ifndef _WIN32

#include <string>
#include <vector>

struct ProcessOptions {
    std::string directory;                 // the child's working directory; empty: ours
    std::vector<std::string> environment;  // "NAME=value", replacing our NAME
    bool stdout_gone = false;  // stdout is a pipe whose reading end is already closed
    int kill_after_ms = 0;     // SIGKILL the child after this long; 0: never
    // Once stdout holds `signal_when`, `signal_number` is sent to the child
    // (0: never), then `second_signal` (0: none).
    int signal_number = 0;
    int second_signal = 0;
    std::string signal_when;
};

struct ProcessResult {
    bool started = false;  // false when the program could not be run at all
    int exit_code = -1;    // -1 unless the child exited normally
    int signal = 0;        // the signal that ended the child, or 0
    std::string out;       // everything written to stdout
    std::string err;       // everything written to stderr
};

// Runs `argv` (argv[0] is the program's path), with stdin from /dev/null,
// and waits for it to end.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options);

#endif
#endif
