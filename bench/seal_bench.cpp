// seal_bench: the in-memory part of a conversion alone: one sample save
// loaded into its block, then built and sealed there 20 times in a row
// (a browser's clock ticks too coarsely for one), 51 such rounds; the
// median round's time per image printed as
//   build+seal <milliseconds> ms/image
// Built twice from this one file: natively (preset release) and in
// WebAssembly (preset web, run in chromium by scripts/bench_web.sh), so the
// two figures compare the same code on the same bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sample_save.h"
#include "source_save.h"
#include "target_save.h"

int main()
{
    using Clock = std::chrono::steady_clock;
    std::vector<unsigned char> source(SOURCE_SIZE);
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = sample_pattern_byte(i);
    }
    std::vector<unsigned char> block(SOURCE_SIZE);
    unsigned char* image = block.data() + TARGET_IMAGE_START;
    constexpr int IMAGES_PER_ROUND = 20;
    std::vector<double> times;
    for (int round = 0; round < 51; ++round) {
        std::memcpy(block.data(), source.data(), SOURCE_SIZE);  // loaded afresh, untimed
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < IMAGES_PER_ROUND; ++i) {
            fill_target(image, block.data());
            seal_target(image);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count() /
                        IMAGES_PER_ROUND);
    }
    std::sort(times.begin(), times.end());
    std::printf("build+seal %.4f ms/image\n", times[times.size() / 2]);
    return 0;
}
