#!/usr/bin/env bash
# Builds the Windows release: dist/melno2quaz-windows.zip with
#   melno2quaz/melno2quaz.exe       the window (32-bit GUI program)
#   melno2quaz/melno2quaz-cli.exe   the command-line front end (console)
#   melno2quaz/README-windows.txt   Japanese and English, UTF-8 with a byte
#                                   order mark and CR LF line ends
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake &&
       cmake --build build-win32 -j2 --target melno2quaz_window melno2quaz; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "package_windows: the cross build failed" >&2
  exit 1
fi

stage="build-win32/package/melno2quaz"
rm -rf build-win32/package
mkdir -p "$stage" dist
i686-w64-mingw32-strip -o "$stage/melno2quaz.exe" build-win32/melno2quaz.exe
i686-w64-mingw32-strip -o "$stage/melno2quaz-cli.exe" build-win32/melno2quaz-cli.exe
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' docs/README-windows.txt; } >"$stage/README-windows.txt"

zip="$(pwd)/dist/melno2quaz-windows.zip"
rm -f "$zip"
(cd build-win32/package && cmake -E tar cf "$zip" --format=zip melno2quaz)
echo "$zip"
