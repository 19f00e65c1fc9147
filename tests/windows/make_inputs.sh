#!/usr/bin/env bash
# The inputs of the Windows harness (tests/windows/window_harness.cpp) and
# the Linux front end's batches it holds the Windows programs against, made
# in the empty folder M2Q_WINE_WORK by the Linux programs. A ctest step of
# the native build (wine_harness_inputs, label wine-inputs) that
# scripts/test_wine.sh runs before the harness; no other test run takes it.
# Mounts a read-only folder and two small drives where it may (root); the
# stage unmounts them.
#
#   M2Q_WINE_WORK=DIR M2Q_SJIS_LOCALES=DIR make_inputs.sh MAKE_MELNO_SAVE MELNO2QUAZ
# M2Q_SJIS_LOCALES holds the ja_JP.SJIS locale the Linux batch runs in.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
make_save="$1"
cli="$2"
[ -n "${M2Q_WINE_WORK:-}" ] || { echo "make_inputs: no M2Q_WINE_WORK: skipped" >&2; exit 77; }
work="$M2Q_WINE_WORK"
locales="${M2Q_SJIS_LOCALES:?the folder of the ja_JP.SJIS locale}"
[ -d "$work" ] && [ -z "$(ls -A "$work")" ] || { echo "make_inputs: $work is no empty folder" >&2; exit 1; }

# --- the same batch in several folders
# Among the files a path of 269 bytes whose first 259 bytes name another save.
# Wine keeps Unix names in UTF-8; the Linux front end, in a Shift-JIS locale,
# takes the Shift-JIS bytes as they are; its folder is then renamed to UTF-8
# names, so that the harness finds the same names on both sides.
mkdir -p "$work/window-1252"
sjis_name=$'\x95\x5c.psu'  # 表.psu
long_dir="$(printf 'l%.0s' $(seq 200))"
cut_name="$(printf 'c%.0s' $(seq 47)).pppppppppp"
long_path="$long_dir/${cut_name}qqqqqqqqqq"
make_inputs() {  # DIR NAME-OF-表.psu-ON-DISK
  mkdir -p "$1/saves.psu" "$1/$long_dir"
  "$make_save" --name-hex "93 8c 8b 9e 93 73" --map 3 --clock 3676029 --funds 1234567 "$1/city.psu"
  "$make_save" --pattern --name "Pattern Town 16!" --map -7 --clock -1 --funds -9223372036854775807 \
    "$1/pattern.save.psu"
  "$make_save" --size 5233663 "$1/short.psu"
  "$make_save" --fill 0x5c --name-hex "83 5c 83 5c" --map 2 --funds 1000 "$1/$2"
  "$make_save" --name "Cut" --map 1 "$1/$long_dir/$cut_name"
  printf 'not a save\r\n' >"$1/notes.txt"
} >/dev/null
batch=(city.psu short.psu saves.psu notes.txt "$sjis_name" "$long_path" pattern.save.psu city.psu)
for dir in window cmdline console; do make_inputs "$work/$dir" 表.psu; done
make_inputs "$work/linux" "$sjis_name"
(cd "$work/linux" && LOCPATH="$locales" LC_ALL=ja_JP.SJIS "$cli" "${batch[@]}") \
  >"$work/linux.log" 2>&1 || true
for name in "$sjis_name" "gamedata_${sjis_name%.psu}.dat"; do
  [ ! -e "$work/linux/$name" ] || mv "$work/linux/$name" "$work/linux/$(iconv -f CP932 -t UTF-8 <<<"$name")"
done
printf '%s\r\n' "${batch[@]}" | iconv -f CP932 -t UTF-8 >"$work/drop.lst"
# Names outside any one code page, and an older report.txt chosen with them
# (select all in the folder): it has its record and is replaced. The Linux
# batch runs in a UTF-8 locale: its report shows what Shift-JIS lacks as
# '?', as Windows' must.
names=(夹心.psu Café.psu 東京.psu 表.psu)
for dir in names-linux names-{932,1252}-{drop,cmdline,console,terminal}; do
  mkdir -p "$work/$dir"
  for name in "${names[@]}"; do "$make_save" --name "Names" --map 5 "$work/$dir/$name" >/dev/null; done
  printf 'an older report\r\n' >"$work/$dir/report.txt"
done
(cd "$work/names-linux" && LC_ALL=C.UTF-8 "$cli" "${names[@]}" report.txt) >"$work/names-linux.log" 2>&1 || true
printf '%s\r\n' "${names[@]}" report.txt >"$work/names.lst"
mkdir -p "$work/empty" "$work/window-192"
# 40 saves for the batches beside the window (and the Linux front end's run
# of them), the Open dialog's saves, a save whose plain output name is
# read-only (the harness sets the attribute) and one dropped too late.
mkdir -p "$work/batch40" "$work/batch40-linux" "$work/choose" "$work/numbered"
for i in $(seq -w 0 39); do
  "$make_save" --name "Batch $i" --map "$((10#$i))" --funds "$((10#$i * 1000))" "$work/batch40-linux/s$i.psu"
done >/dev/null
cp "$work"/batch40-linux/s*.psu "$work/batch40/"
(cd "$work/batch40-linux" && LC_ALL=C.UTF-8 "$cli" s*.psu) >"$work/batch40-linux.log" 2>&1 ||
  { echo "make_inputs: the Linux front end on the 40 saves failed" >&2; exit 1; }
for name in a b c; do "$make_save" --name "Chosen $name" "$work/choose/$name.psu" >/dev/null; done
cp "$work"/batch40/s0[0-3].psu "$work/numbered/"
"$make_save" --name "RO" "$work/numbered/ro.psu" >/dev/null
"$make_save" --name "Late" "$work/numbered/late.psu" >/dev/null
printf 'an older save' >"$work/numbered/gamedata_ro.dat"
# The window as it was drawn before it had controls: its lines' pixels stay.
convert "$root/docs/window.png" -type TrueColor BMP3:"$work/reference-window-932-96.bmp"
# A drop whose report cannot be written: a read-only folder holding an older
# report; where no such mount can be made (root writes anywhere else),
# report.txt is a folder instead. Two saves and one file that is none: the
# counts told differ.
mkdir -p "$work/readonly" "$work/readonly-sources"
"$make_save" --name "RO" --map 1 "$work/readonly-sources/city.psu" >/dev/null
"$make_save" --name "RO2" --map 2 "$work/readonly-sources/town.psu" >/dev/null
printf 'not a save\r\n' >"$work/readonly-sources/notes.txt"
printf '%s\r\n' ../readonly-sources/city.psu ../readonly-sources/notes.txt ../readonly-sources/town.psu \
  >"$work/readonly.lst"
printf 'an older report\r\n' >"$work/readonly/report.txt"
if ! { mount --bind "$work/readonly" "$work/readonly" 2>/dev/null &&
       mount -o remount,ro,bind "$work/readonly" 2>/dev/null; }; then
  if mountpoint -q "$work/readonly"; then umount "$work/readonly"; fi
  rm -f "$work/readonly/report.txt"
  mkdir "$work/readonly/report.txt"
fi
# Sources another program holds open, and names as Windows means them.
mkdir -p "$work/held" "$work/meant"
for name in held/read.psu held/written.psu meant/city.psu; do
  "$make_save" --name "Held" --map 1 "$work/$name" >/dev/null
done
# Full drives: small tmpfs mounts, one for the unit tests (their source is
# sparse) and one for the console program, with room for its source and
# part of the output. Where none can be mounted, those rows do not run and
# say so.
if mkdir -p "$work/small-unit" && mount -t tmpfs -o size=2m,mode=0777 tmpfs "$work/small-unit" 2>/dev/null; then
  mkdir -p "$work/small"
  mount -t tmpfs -o size=8m,mode=0777 tmpfs "$work/small"
  "$make_save" --name "Full" --map 1 "$work/small/city.psu" >/dev/null
else
  rmdir "$work/small-unit"
fi
