#!/usr/bin/env bash
# The conversion benchmark (not a test): builds Release in build-release/
# (preset release) and runs convert_bench for batches of 1, 10 and 100 saves, each in a
# fresh process so that the peak resident memory of each batch size is its
# own. Extra arguments go to convert_bench (e.g. --dir /dev/shm).
#
# scripts/bench.sh --wine: a batch of 40 saves through melno2quaz.exe and
# through melno2quaz-cli.exe under Wine, in turns (the window harness's
# "benchmark" row, through scripts/test_wine.sh; M2Q_WINEPREFIX as there);
# where 32-bit x86 is emulated, the 64-bit build's programs too.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --wine ]; then
    wine_bench() {  # LABEL, then the programs' folder in M2Q_PROGRAMS_DIR if set
        echo "$1:"
        M2Q_WINE_PARTS=harness-932 M2Q_HARNESS_ROWS=benchmark scripts/test_wine.sh >/dev/null 2>&1 || true
        grep '^benchmark' build-win32/wine-test/harness-932.log | tr -d '\r'
    }
    i386="$(scripts/enable_i386.sh)"
    wine_bench "the 32-bit programs ($i386 here)"
    # Where the emulator runs the 32-bit programs, it weighs on both sides
    # unequally; the 64-bit build of the same sources runs natively.
    if [ "$i386" = emulated ]; then
        scripts/apt_install.sh g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 >/dev/null
        { cmake --preset win64 && cmake --build --preset win64 -j2; } >/dev/null
        M2Q_PROGRAMS_DIR="$(pwd)/build-win64" wine_bench "the 64-bit programs (native)"
    fi
    exit 0
fi

scripts/apt_install.sh cmake ninja-build g++ >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release --target convert_bench >/dev/null

for files in 1 10 100; do
    build-release/bench/convert_bench --files "$files" "$@"
done
