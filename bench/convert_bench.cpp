// convert_bench --files N [--dir FOLDER] [--reps R]
//
// Converts N synthetic Melno saves with convert_file and, in the same run and
// on the same files, passes them through the core's own reading and writing
// without converting them: load_source, then write_target of the loaded
// block as it is, under the same output name. That is the conversion's I/O
// to the call (whatever write_target does to put a file on the disk), so it
// is the baseline no converter can beat. Both run over the batch R times,
// alternating file by file, on the same warm page cache; the median of the
// batch times of each is reported. Before them the
// batch is converted once as a whole (process_dropped_files, with its
// report), to check that it converts everything. Then times the in-memory part alone (build and seal
// of one image in its block) and reports the process's peak resident memory
// and the page faults per file.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "melno2quaz.h"
#include "sample_save.h"
#include "source_save.h"
#include "target_save.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Peak resident memory of this process so far, in MiB.
double peak_rss_mib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// Page faults of this process so far (minor and major).
long page_faults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// The conversion of one file, through convert_file.
bool convert_one(const char* path)
{
    char message[MESSAGE_SIZE];
    return convert_file(platform_native(), path, message) == CONVERT_OK;
}

// The baseline for one file: loaded and written back out unconverted, by the
// same core routines, from the place in the block where the image would be.
bool pass_through_one(const char* path)
{
    char message[MESSAGE_SIZE];
    SourceSave save;
    if (load_source(platform_native(), path, &save, message) != CONVERT_OK) {
        return false;
    }
    const int32_t code = write_target(platform_native(), save.image + TARGET_IMAGE_START, path);
    release_source(platform_native(), &save);
    return code == CONVERT_OK;
}

// Times one of the two on one file and removes its output; false when it
// failed.
bool timed(bool (*run)(const char*), const char* path, const std::string& output, double* time,
           long* faults)
{
    const long faults_before = page_faults();
    const Clock::time_point start = Clock::now();
    const bool ok = run(path);
    *time += seconds_since(start);
    *faults += page_faults() - faults_before;
    std::remove(output.c_str());
    return ok;
}

void remove_all(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        std::remove(name.c_str());
    }
}

int usage()
{
    std::fprintf(stderr, "usage: convert_bench --files N [--dir FOLDER] [--reps R]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef M_MMAP_THRESHOLD
    // As the command-line program does: the one 5 MB block of each file
    // stays in the heap for the next file (see cli/main.cpp).
    mallopt(M_MMAP_THRESHOLD, 16 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
#endif
    long files = 0;
    long reps = 0;
    std::string dir;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0) {
            files = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--reps") == 0) {
            reps = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--dir") == 0) {
            dir = argv[i + 1];
        } else {
            return usage();
        }
    }
    if (files < 1 || argc % 2 == 0) {
        return usage();
    }
    if (reps < 1) {
        reps = std::clamp(200 / files, 5L, 41L) | 1;  // odd, for a true median
    }
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/m2q_bench_XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = pattern;
    }
    // N different saves, written once: every later read finds them in the
    // page cache, for the conversion and the baseline alike.
    std::vector<std::string> sources, outputs;
    for (long i = 0; i < files; ++i) {
        SampleSave save = sample_save_defaults();
        save.fill = SAMPLE_FILL_PATTERN;
        save.map_number = static_cast<std::int32_t>(i);
        save.game_clock = static_cast<std::int32_t>(i * 86400 + 3723);
        save.funds = 1000003 * i;
        sample_set_name(&save, "city" + std::to_string(i));
        sources.push_back(dir + "/city" + std::to_string(i) + ".psu");
        outputs.push_back(dir + "/gamedata_city" + std::to_string(i) + ".dat");
        if (!sample_write_file(save, sources.back().c_str())) {
            std::fprintf(stderr, "cannot write %s\n", sources.back().c_str());
            return 1;
        }
    }
    std::vector<const char*> paths;
    for (const std::string& source : sources) {
        paths.push_back(source.c_str());
    }
    const double rss_before = peak_rss_mib();

    // The whole batch once, report included: it must convert every file.
    BatchSummary summary{};
    process_dropped_files(platform_native(), paths.data(), paths.size(), dir.c_str(), nullptr,
                          nullptr, &summary);
    if (summary.converted != static_cast<std::size_t>(files) || !summary.report_written) {
        std::fprintf(stderr, "conversion failed: %zu of %ld converted\n", summary.converted,
                     files);
        return 1;
    }
    remove_all(outputs);

    // Conversion and baseline alternate file by file, each going first on
    // every other file, so that both meet the disk in the same state (a
    // virtual disk's flush time can change for seconds at a time); the
    // first round of each warms up. Both leave the same output, removed
    // after each file.
    std::vector<double> convert_times, baseline_times;
    long convert_faults = 0, baseline_faults = 0;
    for (long rep = 0; rep <= reps; ++rep) {
        double convert_time = 0, baseline_time = 0;
        long convert_round_faults = 0, baseline_round_faults = 0;
        bool ok = true;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const bool convert_first = (i + static_cast<std::size_t>(rep)) % 2 == 0;
            for (int turn = 0; turn < 2; ++turn) {
                ok = (turn == 0) == convert_first
                         ? timed(convert_one, paths[i], outputs[i], &convert_time,
                                 &convert_round_faults) && ok
                         : timed(pass_through_one, paths[i], outputs[i], &baseline_time,
                                 &baseline_round_faults) && ok;
            }
        }
        if (!ok) {
            std::fprintf(stderr, "conversion or baseline failed\n");
            return 1;
        }
        if (rep > 0) {
            convert_times.push_back(convert_time);
            baseline_times.push_back(baseline_time);
            convert_faults += convert_round_faults;
            baseline_faults += baseline_round_faults;
        }
    }
    const double rss_after = peak_rss_mib();

    // The in-memory part alone: building and sealing one image in its
    // block, which is loaded afresh (untimed) before each round.
    std::vector<unsigned char> source(SOURCE_SIZE);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = sample_pattern_byte(i);
    }
    std::vector<unsigned char> block(SOURCE_SIZE);
    unsigned char* image = block.data() + TARGET_IMAGE_START;
    std::vector<double> fill_times, seal_times;
    for (int rep = 0; rep < 101; ++rep) {
        std::memcpy(block.data(), source.data(), SOURCE_SIZE);
        Clock::time_point start = Clock::now();
        fill_target(image, block.data());
        fill_times.push_back(seconds_since(start));
        start = Clock::now();
        seal_target(image);
        seal_times.push_back(seconds_since(start));
    }

    const double convert_ms = median(convert_times) * 1000.0 / files;
    const double baseline_ms = median(baseline_times) * 1000.0 / files;
    const double fill_ms = median(fill_times) * 1000.0;
    const double seal_ms = median(seal_times) * 1000.0;
    const double file_rounds = static_cast<double>(reps * files);
    std::printf("N=%-4ld reps=%-3ld convert %7.3f ms/file  baseline %7.3f ms/file  ratio %.3f  "
                "build %.4f ms + seal %.3f ms = %.3f ms/image  peak RSS %.1f MiB "
                "(%.1f MiB before converting)  page faults/file %.1f convert, %.1f baseline\n",
                files, reps, convert_ms, baseline_ms, convert_ms / baseline_ms, fill_ms, seal_ms,
                fill_ms + seal_ms, rss_after, rss_before, convert_faults / file_rounds,
                baseline_faults / file_rounds);

    remove_all(sources);
    std::remove((dir + "/report.txt").c_str());
    rmdir(dir.c_str());
    return 0;
}
