// melno2quaz PATH...: converts the given Melno saves as one batch, writes
// report.txt in the current directory, and shows the report on the terminal
// together with each output's name and each failure's reason.
// melno2quaz --check PATH...: checks Quaz saves and writes nothing.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "melno2quaz.h"
#include "stop_signals.h"
#include "target_check.h"
#include "terminal_text.h"
#ifdef _WIN32
#include "block_cache.h"
#include "windows_console.h"
#endif

namespace {

const char USAGE[] =
    "Usage: melno2quaz [OPTION]... FILE...\n"
    "       melno2quaz --check FILE...\n"
    "Converts Melno city saves into Quaz saves, or checks Quaz saves.\n"
    "\n"
    "Every FILE of exactly 5,233,664 bytes is a Melno save and is converted\n"
    "into a Quaz save named gamedata_NAME.dat in the same folder, NAME being\n"
    "the file's name without its extension (gamedata_NAME_1.dat, _2, ... when\n"
    "that name cannot be written). Every FILE, converted or not, gets a record\n"
    "in report.txt in the current directory (Shift-JIS, CR LF), which is shown\n"
    "here as well, with the path of each output (\"-> PATH\") and the system's\n"
    "reason for a failure where there is one; control characters of city\n"
    "names and paths show as '?'. In report.txt, paths are converted from the\n"
    "locale's encoding (UTF-8 in the C locale) to Shift-JIS, '?' standing for\n"
    "what has no Shift-JIS form. On POSIX only '/' separates folders; '\\'\n"
    "and \"C:\" are parts of a name.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "      --check    check each FILE as a Quaz save: its size, fixed header and\n"
    "                 block, sealing constants, both checksums and the zero end;\n"
    "                 one line per FILE, \"ok\" (the size, fixed parts and both\n"
    "                 checksums match) or what is wrong; writes nothing, not\n"
    "                 even report.txt\n"
    "      --         end of options: every later argument is a FILE\n"
    "\n"
    "A lone '-' is a FILE named '-' (standard input is never read).\n"
    "\n"
    "Exit status: 0 when every FILE was converted (or, with --check, is \"ok\"),\n"
    "1 when any FILE failed or standard output could not be written, 2 for a\n"
    "usage error.\n"
    "\n"
    "SIGINT (Ctrl+C), SIGTERM or SIGHUP stops the batch after the file in hand:\n"
    "the rest are recorded with Err:7, report.txt is written, and the exit\n"
    "status is 128 + the signal's number. A second signal ends at once.\n";

const char TRY_HELP[] = "Try 'melno2quaz --help' for more information.\n";

// "  変換元:" (source), the label of the path line of a record.
const char SOURCE_LABEL[] = "  \x95\xcf\x8a\xb7\x8c\xb3:";

// Standard output, and whether writing to it failed. A reader that went
// away (a closed pipe) silences it; any other error is told at the end.
struct Output {
    bool gone = false;
    int error = 0;
};
Output g_output;

void emit(const std::string& text) {
    if (g_output.gone || g_output.error != 0) return;
    errno = 0;
#ifdef _WIN32
    const bool ok = windows_write_output(text);
#else
    const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                    std::fflush(stdout) == 0;
#endif
    if (ok) return;
    const int error = errno != 0 ? errno : EIO;
    if (error == EPIPE) {
        g_output.gone = true;
    } else {
        g_output.error = error;
    }
}

// The exit status, made 1 when standard output failed, with the reason on
// standard error.
int finish(int status) {
    emit("");
    if (g_output.error == 0) return status;
    std::fprintf(stderr, "melno2quaz: cannot write to standard output: %s\n",
                 std::strerror(g_output.error));
    return 1;
}

// The terminal's view of the texts the core keeps in Shift-JIS.
TerminalText g_terminal;

// A path or a system text as it is, but for control characters and bytes
// that are no character, shown as '?'.
std::string shown(std::string_view text) {
    std::string out;
    terminal_text_append_own(&g_terminal, text, &out);
    return out;
}

// A count zero-padded to four digits, wider when it needs to be.
std::string counter(std::size_t value) {
    std::string text = std::to_string(value);
    if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
    return text;
}

// Where the pieces of a summary go: the terminal's encoding, the city name
// shown as a field, so even a name holding a line end stays on its line.
struct SummaryOut {
    TerminalText* terminal;
    std::string* out;
};

void summary_words(void* context, const char* bytes, std::size_t length) {
    auto* to = static_cast<SummaryOut*>(context);
    terminal_text_append(to->terminal, std::string_view(bytes, length), to->out);
}

void summary_name(void* context, const char* bytes, std::size_t length) {
    auto* to = static_cast<SummaryOut*>(context);
    terminal_text_append_field(to->terminal, std::string_view(bytes, length), to->out);
}

// Shows one record as report.txt holds it, in the terminal's encoding,
// with the output's path or the reason of a failure added. Paths go out as
// they were given.
void show_record(void* context, std::size_t index, std::size_t count, const char* path,
                 std::int32_t code, const char* message, const FileOutcome* outcome) {
    TerminalText* terminal = static_cast<TerminalText*>(context);
    std::string out;
    terminal_text_append(terminal, counter(index) + "/" + counter(count) + "\r\n" + SOURCE_LABEL,
                         &out);
    out += shown(path);
    out += "\n  ";
    if (code == CONVERT_OK) {
        SummaryOut to{terminal, &out};
        compose_summary(outcome->summary, SummaryPieces{&to, summary_words, summary_name});
        out += "  -> " + shown(outcome->output);
        if (outcome->numbered) {
            out += " (numbered: the plain name could not be written";
            if (outcome->reason[0] != '\0') out += std::string(": ") + shown(outcome->reason);
            out += ")";
        }
        out += "\n";
    } else {
        terminal_text_append(terminal,
                             std::string(message) + "  (Err:" + std::to_string(code) + ")\r\n",
                             &out);
        if (outcome->reason[0] != '\0') out += "  " + shown(outcome->reason) + "\n";
    }
    out += "\n";
    emit(out);
}

int convert(const std::vector<const char*>& paths) {
    static std::atomic<bool> stop{false};
    stop_on_signals(&stop);
    const BatchControl control{nullptr, nullptr, &stop};
    BatchSummary summary{};
#ifdef _WIN32
    // Windows: the block a file frees is kept for the next one.
    static BlockKeeper keeper;
    keep_freed_blocks(&keeper);
    const PlatformOps& os = keeper.ops;
#else
    const PlatformOps& os = platform_native();
#endif
    process_dropped_files(os, paths.data(), paths.size(), nullptr, show_record, &g_terminal, &summary,
                          &control);

    emit(std::to_string(summary.converted) + " converted, " + std::to_string(summary.failed) +
         " failed\n");
    if (!summary.report_written) {
        std::fputs("melno2quaz: warning: report.txt could not be written in the current directory"
                   " (the files were processed without it)\n",
                   stderr);
    }
    // The status follows the records: a signal that came after the last
    // file was taken stopped nothing, and the batch's own status stands.
    const int stopped = summary.stopped != 0 ? stopped_exit_status() : 0;
    if (stopped != 0) {
        std::fputs("melno2quaz: stopped: the files after the one in hand were not converted"
                   " (Err:7 in report.txt)\n",
                   stderr);
        finish(stopped);
        return stopped;
    }
    // A report not written leaves an older report.txt that would
    // contradict this run: the run did not do all it was asked.
    return finish(summary.failed == 0 && summary.report_written ? 0 : 1);
}

int check(const std::vector<const char*>& paths) {
    bool all_intact = true;
    char text[CHECK_TEXT_SIZE];
    for (const char* path : paths) {
        const int32_t result = check_target_file(platform_native(), path, text, sizeof text);
        all_intact = all_intact && result == CHECK_INTACT;
        emit(shown(path) + ": " + shown(text) + "\n");
    }
    return finish(all_intact ? 0 : 1);
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "melno2quaz: %s\n%s", problem.c_str(), TRY_HELP);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // Descriptors 0, 1 and 2 are open before anything else is, to
    // /dev/null where they were closed: otherwise the first file opened
    // (report.txt's temporary file) would become standard output and take
    // the terminal's lines into the report.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) {
            return 1;
        }
    }
    // A file-size limit (ulimit -f) makes the write that passes it fail
    // with EFBIG, told for that file, instead of killing the batch.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
    // Names as Windows gives them, whatever the ANSI code page.
    std::vector<std::string> wide_arguments = windows_arguments();
    std::vector<char*> utf8_arguments = {argv[0]};
    for (std::string& argument : wide_arguments) utf8_arguments.push_back(&argument[0]);
    utf8_arguments.push_back(nullptr);
    argc = static_cast<int>(utf8_arguments.size() - 1);
    argv = utf8_arguments.data();
#endif
#ifdef SIGPIPE
    // A terminal or pipe that goes away must not stop the batch halfway.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    std::vector<const char*> paths;
    bool options_done = false;
    bool checking = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            paths.push_back(argv[i]);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-h" || arg == "--help") {
            emit(USAGE);
            return finish(0);
        } else if (arg == "--version") {
            emit("melno2quaz " M2Q_VERSION "\n");
            return finish(0);
        } else if (arg == "--check") {
            checking = true;
        } else {
            return usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    if (paths.empty()) return usage_error("no files given");
    // The user's locale: the terminal's encoding, and the system's reasons
    // in the user's language.
    terminal_text_open_for_locale(&g_terminal);

#ifdef M_MMAP_THRESHOLD
    // Each file is loaded into one block of about 5 MB. Kept in the heap
    // (not mapped afresh for each file), the freed block is taken again by
    // the next file, so a batch costs no page faults per file and its peak
    // memory does not creep with the number of files.
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
#endif

    return checking ? check(paths) : convert(paths);
}
