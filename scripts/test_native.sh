#!/usr/bin/env bash
# Native stage: installs the toolchain and GoogleTest, builds everything in
# build/ (preset native) and runs the unit and end-to-end tests of the Linux
# build, two at a time (no test shares state with another).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake g++ ninja-build libgtest-dev libc-bin locales acl

# build/ is this stage's (and run.sh's) Ninja tree; start it anew when an
# earlier configuration used another generator.
if [ -f build/CMakeCache.txt ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' build/CMakeCache.txt; then
  rm -rf build
fi
cmake --preset native
cmake --build --preset native -j2
ctest --preset native -j2
