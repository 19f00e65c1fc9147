#!/usr/bin/env bash
# Web stage: builds the page (preset web, emscripten: build-web/web/melno2quaz.html)
# and drives it from file:// in Debian's chromium, headless, through
# playwright-core (web/test/page_test.js): two saves (one with a Japanese
# name), a file that is no save and an empty file chosen together; every
# download and report.txt byte for byte against the Linux program's batch
# over the same files (build/, preset native); no request but the page.
# Then a folder converted in place (the folder conversion; a save, a file
# that is no save, an old report.txt, a folder taking the plain output name)
# against the same folder after the Linux program's batch.
#
# M2Q_UPDATE_SCREENSHOT=1 copies the page as seen after the batch to docs/web.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
start=$SECONDS
note() { echo "test_web: $* ($((SECONDS - start)) s)" >&2; }

scripts/apt_install.sh cmake ninja-build g++ libgtest-dev emscripten chromium fonts-ipafont-gothic
command -v node >/dev/null || scripts/apt_install.sh nodejs
command -v npm >/dev/null || scripts/apt_install.sh npm
# Debian's emscripten finds its own node modules there when node is not Debian's.
export NODE_PATH=/usr/share/nodejs

if [ ! -d web/test/node_modules/playwright-core ]; then
  (cd web/test && npm ci --no-audit --no-fund --loglevel=error)
fi

cmake --preset native >/dev/null
cmake --build --preset native-programs -j2 >/dev/null
cmake --preset web >/dev/null
cmake --build --preset web -j2 >/dev/null
note "built the page and the Linux programs"

work="$(mktemp -d "${TMPDIR:-/tmp}/m2q-web.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/linux" "$work/expected"
# The second save is 0xFF around its fields: the largest checksum sums,
# at the limit of the page's 16-bit lanes.
names=(city.psu "港町～の記録.psu" notes.txt empty.psu)
(cd "$work/in" &&
  "$root/build/make_melno_save" --name-hex "93 8c 8b 9e" --map 3 --clock 100000 --funds 1234567 \
    --pattern city.psu &&
  "$root/build/make_melno_save" --name Harbor --map 1 --funds -5 --fill 255 "港町～の記録.psu" &&
  printf 'not a save\n' >notes.txt && : >empty.psu)
cp "$work/in"/* "$work/linux/"
status=0
(cd "$work/linux" && "$root/build/melno2quaz" "${names[@]}" >/dev/null) || status=$?
[ "$status" -eq 1 ] || { echo "test_web: FAIL: the Linux batch ended with $status, not 1" >&2; exit 1; }
(cd "$work/linux" && cp gamedata_*.dat report.txt "$work/expected/")

# The folder: every file in the order of its name, as the page takes them.
mkdir -p "$work/folder-before/gamedata_city.dat"
cp "$work/in/city.psu" "$work/in/notes.txt" "$work/folder-before/"
printf 'an old report\r\n' >"$work/folder-before/report.txt"
cp -r "$work/folder-before" "$work/folder-after"
status=0
(cd "$work/folder-after" && LC_ALL=C "$root/build/melno2quaz" $(LC_ALL=C ls -p | grep -v /) >/dev/null) ||
  status=$?
[ "$status" -eq 1 ] || { echo "test_web: FAIL: the Linux folder batch ended with $status, not 1" >&2; exit 1; }

node web/test/page_test.js build-web/web/melno2quaz.html "$work" build-web/page.png "${names[@]}"
[ "${M2Q_UPDATE_SCREENSHOT:-0}" != 1 ] || cp build-web/page.png docs/web.png
note "passed"
