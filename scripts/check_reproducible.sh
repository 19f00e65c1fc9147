#!/usr/bin/env bash
# Shows that a release is reproducible: clones the current commit into two
# fresh folders, builds the release archives in each with
# scripts/package_release.sh (win32, release and web presets, or the
# presets given) and compares the archives byte for byte. Prints both SHA-256 sums
# of each archive and "identical" or "DIFFERENT"; exits 1 on a difference.
# Only committed work is compared. Takes two full builds (a few minutes).
#
#   scripts/check_reproducible.sh [PRESET...]
#   M2Q_KEEP=1 scripts/check_reproducible.sh    keeps the two folders
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

commit="$(git rev-parse HEAD)"
base="$(mktemp -d "${TMPDIR:-/tmp}/m2q-reproducible.XXXXXX")"
[ "${M2Q_KEEP:-0}" = 1 ] || trap 'rm -rf "$base"' EXIT
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "check_reproducible: uncommitted changes are left out: comparing $commit" >&2

for side in a b; do
  git clone -q --shared --no-checkout "$root" "$base/rel-$side"
  git -C "$base/rel-$side" checkout -q --detach "$commit"
  echo "--- building the release in $base/rel-$side" >&2
  (cd "$base/rel-$side" && scripts/package_release.sh "$@" >/dev/null)
done

status=0
for archive in $(cd "$base/rel-a/dist" && ls melno2quaz-*.zip melno2quaz-*.tar.gz melno2quaz-*-web.html 2>/dev/null); do
  a="$base/rel-a/dist/$archive"
  b="$base/rel-b/dist/$archive"
  echo "$archive"
  echo "  rel-a: $(sha256sum <"$a" | cut -d' ' -f1)"
  if [ -f "$b" ]; then
    echo "  rel-b: $(sha256sum <"$b" | cut -d' ' -f1)"
  else
    echo "  rel-b: missing"
  fi
  if [ -f "$b" ] && cmp -s "$a" "$b"; then
    echo "  identical"
  else
    echo "  DIFFERENT"
    status=1
  fi
done
cmp -s "$base/rel-a/dist/SHA256SUMS" "$base/rel-b/dist/SHA256SUMS" || { echo "SHA256SUMS differ"; status=1; }
if [ "$status" -eq 0 ]; then
  echo "reproducible: the two builds of $commit gave identical archives ($SECONDS s)"
else
  echo "NOT reproducible: the two builds of $commit differ ($SECONDS s)"
fi
exit "$status"
