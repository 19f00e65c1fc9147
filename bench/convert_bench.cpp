// convert_bench --files N [--dir FOLDER] [--reps R]
//
// Converts a batch of N synthetic Melno saves with process_dropped_files and,
// in the same run and on the same files, copies them with a plain
// read-and-write of the same sizes (the whole source read, a target-sized
// block written to a new file): the baseline no converter can beat. Both run
// R times, alternately, on the same warm page cache; the median of each is
// reported. Then times the in-memory part alone (build and seal of one
// image) and reports the process's peak resident memory.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "melno2quaz.h"
#include "platform.h"
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

// The baseline: read each source whole into one buffer and write a
// target-sized block of it to a temporary file, flushed and renamed into
// place, through the same platform operations the converter uses.
bool copy_batch(const std::vector<std::string>& sources, const std::vector<std::string>& copies)
{
    const PlatformOps& os = platform_native();
    std::vector<unsigned char> buffer(SOURCE_SIZE);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const PlatformFile in = os.open_read(sources[i].c_str());
        if (in == NO_FILE) {
            return false;
        }
        std::uint32_t done = 0;
        const bool read = os.read(in, buffer.data(), os.size_low(in), &done);
        os.close(in);
        char temp[TEMP_PATH_SIZE];
        const PlatformFile out = os.create_temp(copies[i].c_str(), temp, sizeof temp);
        if (!read || out == NO_FILE) {
            return false;
        }
        const bool written = os.write(out, buffer.data(), TARGET_SIZE, &done) && os.flush(out);
        if (!os.close(out) || !written || os.replace_file(temp, copies[i].c_str()) != REPLACE_DONE) {
            return false;
        }
    }
    return true;
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
    if (chdir(dir.c_str()) != 0) {  // report.txt goes here too
        std::perror(dir.c_str());
        return 1;
    }

    // N different saves, written once: every later read finds them in the
    // page cache, for the conversion and the copy alike.
    std::vector<std::string> sources, outputs, copies;
    for (long i = 0; i < files; ++i) {
        SampleSave save = sample_save_defaults();
        save.fill = SAMPLE_FILL_PATTERN;
        save.map_number = static_cast<std::int32_t>(i);
        save.game_clock = static_cast<std::int32_t>(i * 86400 + 3723);
        save.funds = 1000003 * i;
        sample_set_name(&save, "city" + std::to_string(i));
        sources.push_back(dir + "/city" + std::to_string(i) + ".psu");
        outputs.push_back(dir + "/gamedata_city" + std::to_string(i) + ".dat");
        copies.push_back(dir + "/copy_city" + std::to_string(i) + ".dat");
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

    // Alternate conversion and copy; the first round of each warms up.
    std::vector<double> convert_times, copy_times;
    double rss_after_convert = 0;
    for (long rep = 0; rep <= reps; ++rep) {
        BatchSummary summary{};
        Clock::time_point start = Clock::now();
        process_dropped_files(paths.data(), paths.size(), nullptr, nullptr, &summary);
        const double converted = seconds_since(start);
        if (summary.converted != static_cast<std::size_t>(files) || !summary.report_written) {
            std::fprintf(stderr, "conversion failed: %zu of %ld converted\n", summary.converted,
                         files);
            return 1;
        }
        if (rep == 0) {
            rss_after_convert = peak_rss_mib();  // before the copy's buffer exists
        }
        remove_all(outputs);

        start = Clock::now();
        if (!copy_batch(sources, copies)) {
            std::fprintf(stderr, "copy failed\n");
            return 1;
        }
        const double copied = seconds_since(start);
        remove_all(copies);
        if (rep > 0) {
            convert_times.push_back(converted);
            copy_times.push_back(copied);
        }
    }

    // The in-memory part alone: filling and sealing one image, on images
    // that are already allocated and touched.
    std::vector<unsigned char> source(SOURCE_SIZE);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = sample_pattern_byte(i);
    }
    std::vector<unsigned char> image(TARGET_SIZE);
    std::vector<double> fill_times, seal_times;
    for (int rep = 0; rep < 101; ++rep) {
        std::fill(image.begin(), image.end(), 0);
        Clock::time_point start = Clock::now();
        fill_target(image.data(), source.data());
        fill_times.push_back(seconds_since(start));
        start = Clock::now();
        seal_target(image.data());
        seal_times.push_back(seconds_since(start));
    }

    const double convert_ms = median(convert_times) * 1000.0 / files;
    const double copy_ms = median(copy_times) * 1000.0 / files;
    const double fill_ms = median(fill_times) * 1000.0;
    const double seal_ms = median(seal_times) * 1000.0;
    std::printf("N=%-4ld reps=%-3ld convert %7.3f ms/file  copy %7.3f ms/file  ratio %.3f  "
                "build %.3f ms + seal %.3f ms = %.3f ms/image  peak RSS %.1f MiB "
                "(%.1f MiB before converting)\n",
                files, reps, convert_ms, copy_ms, convert_ms / copy_ms, fill_ms, seal_ms,
                fill_ms + seal_ms, rss_after_convert, rss_before);

    remove_all(sources);
    std::remove((dir + "/report.txt").c_str());
    rmdir(dir.c_str());
    return 0;
}
