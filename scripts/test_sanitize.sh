#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehavior-
# Sanitizer (build-asan/), then the command-line program of the native build
# (build/, preset native: built by the native stage already, so nothing is
# built twice) under valgrind memcheck over a small batch. Any sanitizer report, any
# valgrind error and any leaked byte fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake ninja-build g++ libgtest-dev valgrind

jobs=$(nproc 2>/dev/null || echo 2)

echo "--- ASan + UBSan build of the test suite" >&2
# Preset asan: -O1 with line tables, the usual sanitizer build, and much
# quicker to compile than -O2 with full debug information. Its test preset
# makes leaks errors too and aborts on the first report so it cannot scroll by.
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
# The kill rounds and the writers beside a read watch the disk and the
# clock, not memory (the native stage runs them); under the sanitizers
# they only take time.
ctest --preset asan -j "$jobs" -E 'AKillAtAnyMoment|ASaveWrittenWhileRead'

echo "--- valgrind memcheck of melno2quaz over a small batch" >&2
if [ -f build/CMakeCache.txt ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' build/CMakeCache.txt; then
  rm -rf build
fi
cmake --preset native >/dev/null
cmake --build --preset native-programs -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cli=$PWD/build/melno2quaz
make_save=$PWD/build/make_melno_save
"$make_save" --name "first" --map 2 --clock 3283629 --funds 1234567 --pattern "$work/first.psu"
"$make_save" --name "second" --map 5 --clock 86399 --funds -1000 --fill 7 "$work/second.psu"
"$make_save" --size 5233663 "$work/short.psu"

log=$work/valgrind.log
status=0
# The CLI exits 1 because two of the four files fail; valgrind's own
# verdict comes back as 99.
(cd "$work" && valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --track-fds=yes --error-exitcode=99 --log-file="$log" \
    "$cli" first.psu short.psu second.psu missing.psu >"$work/stdout.txt") || status=$?

cat "$log" >&2
summary=$(grep -E 'ERROR SUMMARY' "$log" | tail -1)
echo "valgrind: ${summary#==*== }" >&2
if [ "$status" -ne 1 ]; then
    echo "valgrind run: expected exit status 1 (two files fail), got $status" >&2
    exit 1
fi
if ! grep -q 'ERROR SUMMARY: 0 errors from 0 contexts' "$log"; then
    echo "valgrind found errors" >&2
    exit 1
fi
if ! grep -q 'All heap blocks were freed -- no leaks are possible' "$log"; then
    echo "valgrind found leaked memory" >&2
    exit 1
fi
# Every descriptor still open at exit must be one the program inherited
# (valgrind shows the stack of any the program opened itself).
if ! grep -q 'FILE DESCRIPTORS:' "$log"; then
    echo "valgrind did not report descriptors" >&2
    exit 1
fi
if awk '/Open (file descriptor|AF_)/ { getline; if ($0 !~ /inherited from parent/) bad = 1 }
        END { exit bad ? 0 : 1 }' "$log"; then
    echo "valgrind: a descriptor the program opened was still open at exit" >&2
    exit 1
fi
for output in gamedata_first.dat gamedata_second.dat; do
    size=$(stat -c %s "$work/$output")
    if [ "$size" -ne 5184406 ]; then
        echo "valgrind run: $output has $size bytes" >&2
        exit 1
    fi
done
if ! grep -q '^2 converted, 2 failed' "$work/stdout.txt"; then
    echo "valgrind run: unexpected summary:" >&2
    cat "$work/stdout.txt" >&2
    exit 1
fi
echo "sanitizers and valgrind: clean" >&2
