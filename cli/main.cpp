// melno2quaz PATH...: converts the given Melno saves as one batch, writes
// report.txt in the current directory, and shows the report on the terminal.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "melno2quaz.h"
#include "terminal_text.h"

namespace {

const char USAGE[] =
    "Usage: melno2quaz [OPTION]... FILE...\n"
    "Converts Melno city saves into Quaz saves.\n"
    "\n"
    "Every FILE of exactly 5,233,664 bytes is a Melno save and is converted\n"
    "into a Quaz save named gamedata_NAME.dat in the same folder, NAME being\n"
    "the file's name without its extension. Every FILE, converted or not, gets\n"
    "a record in report.txt in the current directory (Shift-JIS, CR LF), which\n"
    "is shown here as well.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "      --         end of options: every later argument is a FILE\n"
    "\n"
    "Exit status: 0 when every FILE was converted, 1 when any FILE failed,\n"
    "2 for a usage error.\n";

const char TRY_HELP[] = "Try 'melno2quaz --help' for more information.\n";

// "  変換元:" (source), the label of the path line of a record.
const char SOURCE_LABEL[] = "  \x95\xcf\x8a\xb7\x8c\xb3:";

// A count zero-padded to four digits, wider when it needs to be.
std::string counter(std::size_t value) {
    std::string text = std::to_string(value);
    if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
    return text;
}

// Shows one record as report.txt holds it, in the terminal's encoding. The
// path goes out as it was given.
void show_record(void* context, std::size_t index, std::size_t count, const char* path,
                 std::int32_t code, const char* message, const FileOutcome*) {
    TerminalText* terminal = static_cast<TerminalText*>(context);
    std::string head = counter(index) + "/" + counter(count) + "\r\n" + SOURCE_LABEL;
    std::string body = "\r\n  ";
    body += message;
    body += (code != CONVERT_OK) ? "  (Err:" + std::to_string(code) + ")\r\n\r\n" : "\r\n";

    std::string out;
    terminal_text_append(terminal, head, &out);
    out += path;
    terminal_text_append(terminal, body, &out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "melno2quaz: %s\n%s", problem.c_str(), TRY_HELP);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> paths;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            paths.push_back(argv[i]);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("melno2quaz " M2Q_VERSION);
            return 0;
        } else {
            return usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    if (paths.empty()) return usage_error("no files given");

#ifdef SIGPIPE
    // A terminal or pipe that goes away must not stop the batch halfway.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    TerminalText terminal;
    terminal_text_open_for_locale(&terminal);

    BatchSummary summary{};
    process_dropped_files(paths.data(), paths.size(), show_record, &terminal, &summary);

    std::printf("%s converted, %s failed\n", std::to_string(summary.converted).c_str(),
                std::to_string(summary.failed).c_str());
    std::fflush(stdout);
    if (!summary.report_written) {
        std::fputs("melno2quaz: warning: report.txt could not be written in the current directory"
                   " (the files were processed without it)\n",
                   stderr);
    }
    return summary.failed == 0 ? 0 : 1;
}
