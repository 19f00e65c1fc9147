#!/usr/bin/env bash
# ./run.sh [FILE...]: sets up the machine, builds melno2quaz and runs it.
#
# With FILEs, converts them as one batch from the current directory
# (report.txt is written here, the Quaz saves beside each FILE). Without
# FILEs, makes two sample Melno saves in out/demo/ and converts those there.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

"$root/scripts/apt_install.sh" cmake g++ ninja-build libgtest-dev

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if [ -f "$root/build/CMakeCache.txt" ] &&
   ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$root/build/CMakeCache.txt"; then
  rm -rf "$root/build"
fi
echo "Building melno2quaz in build/ ..." >&2
if ! (cd "$root" && cmake --preset native &&
       cmake --build --preset native-programs -j2) >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: the build failed" >&2
  exit 1
fi

if [ $# -gt 0 ]; then
  exec "$root/build/melno2quaz" "$@"
fi

demo="$root/out/demo"
mkdir -p "$demo"
cd "$demo"
make_save="$root/build/make_melno_save"
# 東京湾市 (Tokyo Bay City), map 3, spring of year 1 at 13:07'09.
"$make_save" --name-hex "93 8c 8b 9e 98 70 8e 73" --map 3 --clock 3676029 \
  --funds 1234567 --pattern tokyo_bay.psu
# さくら町 (Sakura Town), map 12, in year 12, in debt.
"$make_save" --name-hex "82 b3 82 ad 82 e7 92 ac" --map 12 --clock 38205296 \
  --funds -25000 --pattern sakura.psu

echo "Converting two sample Melno saves in out/demo/:"
echo
status=0
"$root/build/melno2quaz" tokyo_bay.psu sakura.psu || status=$?
echo
echo "Written in out/demo/:"
ls -l gamedata_tokyo_bay.dat gamedata_sakura.dat report.txt
exit "$status"
