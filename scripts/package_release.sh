#!/usr/bin/env bash
# Builds the release archives through the CMake presets (cmake --install and
# CPack, see cmake/packaging.cmake) and writes dist/SHA256SUMS beside them:
#   win32     dist/melno2quaz-<version>-win32.zip: melno2quaz.exe (the window),
#             melno2quaz-cli.exe (console), README-windows.txt (UTF-8 with a
#             byte order mark, CR LF)
#   release   dist/melno2quaz-<version>-linux-x86_64.tar.gz: bin/melno2quaz
#   web       dist/melno2quaz-<version>-web.html: the page, one file with its
#             WebAssembly inlined (web/, preset web, emscripten)
#   win64     dist/melno2quaz-<version>-win64.zip (only when asked for)
#
#   scripts/package_release.sh               win32, release and web
#   scripts/package_release.sh win32         the Windows zip only
#
# Every time in the archives is the commit's (SOURCE_DATE_EPOCH, by default
# `git log -1 --format=%ct`), so one commit gives the same bytes in any
# folder (scripts/check_reproducible.sh). Prints the archives' paths.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32 release web)

packages=(cmake ninja-build zip)
for preset in "${presets[@]}"; do
  case $preset in
    win32) packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686) ;;
    win64) packages+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64) ;;
    release) packages+=(g++) ;;
    web) packages+=(emscripten) ;;
    *) echo "package_release: no preset $preset (win32, win64, release, web)" >&2; exit 2 ;;
  esac
done
[[ " ${presets[*]} " != *" win32 "* && " ${presets[*]} " != *" win64 "* ]] || packages+=(googletest)
scripts/apt_install.sh "${packages[@]}"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null)" ||
    { echo "package_release: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
mkdir -p dist
for preset in "${presets[@]}"; do
  if [ "$preset" = web ]; then
    # The page is one file already: copied under its release name.
    export NODE_PATH=/usr/share/nodejs  # emscripten's modules, whichever node runs it
    if ! { cmake --preset web && cmake --build --preset web -j2; } >"$log" 2>&1; then
      cat "$log" >&2
      echo "package_release: building the web page failed" >&2
      exit 1
    fi
    version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-web/CMakeCache.txt)"
    cp build-web/web/melno2quaz.html "dist/melno2quaz-$version-web.html"
    touch -d "@$SOURCE_DATE_EPOCH" "dist/melno2quaz-$version-web.html"
    echo "$(pwd)/dist/melno2quaz-$version-web.html"
    continue
  fi
  # Only what the archive holds is built (build preset <preset>-package;
  # installing does not build everything first), not the tests.
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset-package" -j2 &&
         cpack --preset "$preset"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "package_release: building the $preset archive failed" >&2
    exit 1
  fi
  sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$log"
done
rm -rf dist/_CPack_Packages

# Every archive in dist/, for `sha256sum -c SHA256SUMS`.
(cd dist && shopt -s nullglob && archives=(melno2quaz-*.zip melno2quaz-*.tar.gz melno2quaz-*-web.html) &&
   printf '%s\n' "${archives[@]}" | LC_ALL=C sort | xargs -r sha256sum >SHA256SUMS)
