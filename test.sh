#!/usr/bin/env bash
# Sets up what the tests need, builds everything and runs every test suite.
# Each stage script installs its own packages and fails the run on a failure.
set -euo pipefail
cd "$(dirname "$0")"

stages=(
  scripts/test_native.sh    # unit and end-to-end tests of the Linux build
  scripts/test_sanitize.sh  # the same suite under ASan and UBSan, valgrind
  scripts/test_fuzz.sh      # short libFuzzer runs over the seed corpus
  scripts/test_wine.sh      # the Windows build under Wine: unit tests, window
  scripts/test_web.sh       # the web page in headless chromium, against the Linux build
  scripts/check_reproducible.sh  # the release archives: same bytes from two clones
)
for stage in "${stages[@]}"; do
  echo "=== $stage" >&2
  "$stage"
done
echo "=== every stage passed" >&2
