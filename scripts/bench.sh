#!/usr/bin/env bash
# The conversion benchmark (not a test): builds Release in build-release/
# (preset release) and runs convert_bench for batches of 1, 10 and 100 saves, each in a
# fresh process so that the peak resident memory of each batch size is its
# own. Extra arguments go to convert_bench (e.g. --dir /dev/shm).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake ninja-build g++ >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release --target convert_bench >/dev/null

for files in 1 10 100; do
    build-release/bench/convert_bench --files "$files" "$@"
done
