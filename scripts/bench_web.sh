#!/usr/bin/env bash
# The page's benchmark (not a test): builds seal_bench natively (preset
# release) and in WebAssembly (preset web) and the page, makes 30 sample
# saves, and runs web/test/page_bench.js in headless chromium: the
# WebAssembly build and seal of one image and the page's time per save,
# each as a ratio to the native build and seal, and the peak memory of the
# 30-save batch. See docs/web.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/apt_install.sh cmake ninja-build g++ emscripten chromium >/dev/null
command -v node >/dev/null || scripts/apt_install.sh nodejs
command -v npm >/dev/null || scripts/apt_install.sh npm
export NODE_PATH=/usr/share/nodejs
[ -d web/test/node_modules/playwright-core ] ||
  (cd web/test && npm ci --no-audit --no-fund --loglevel=error)

cmake --preset release >/dev/null
cmake --build --preset release --target seal_bench make_melno_save >/dev/null
cmake --preset web >/dev/null
cmake --build --preset web -j2 >/dev/null
cmake --build --preset web --target seal_bench >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/m2q-bench-web.XXXXXX")"
trap 'rm -rf "$work"' EXIT
saves=()
for i in $(seq -w 1 30); do
  build-release/make_melno_save --name "City $i" --map "$((10#$i))" --pattern "$work/city$i.psu"
  saves+=("$work/city$i.psu")
done

# The native figure: the median of five runs on each processor this script
# may use, the fastest of those (the processors of a virtual machine can
# differ in speed by a fifth, and the browser runs where it is put).
native=""
for range in $(taskset -pc $$ | sed 's/.*: //; s/,/ /g'); do
  for cpu in $(seq "${range%-*}" "${range#*-}"); do
    native+="$(for run in 1 2 3 4 5; do taskset -c "$cpu" build-release/bench/seal_bench; done |
      awk '{print $2}' | sort -g | sed -n 3p) "
  done
done
native="$(printf '%s\n' $native | sort -g | head -n 1)"
node web/test/page_bench.js build-web/web/melno2quaz.html build-web/bench/seal_bench.js \
  "$native" "${saves[@]}"
