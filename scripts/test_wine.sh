#!/usr/bin/env bash
# Windows stage: cross-builds melno2quaz for 32-bit Windows with MinGW-w64
# and runs the 32-bit programs under Wine, headless: the unit tests
# (m2q_tests.exe) and the window harness (tests/windows/window_harness.cpp,
# which holds the checks of the window, melno2quaz.exe and
# melno2quaz-cli.exe against the Linux front end's batch), once per code
# page. 32-bit x86 runs natively, or through qemu-user where the host needs
# it (scripts/enable_i386.sh).
#
# M2Q_WINEPREFIX=DIR keeps the Wine prefix in DIR between runs.
# M2Q_UPDATE_SCREENSHOT=1 copies the window as seen to docs/window.png (code
# page 932) and docs/window-cp1252.png.
# M2Q_WINE_PARTS="harness-932 harness-1252 unit interrupt zip" (the default: all) runs
# only the parts named, to iterate on one of them.
# M2Q_HARNESS_ROWS=TEXT runs only the harness rows whose label holds TEXT.
# M2Q_PROGRAMS_DIR=DIR has the harness run the programs in DIR (say the
# 64-bit build-win64, which runs natively where 32-bit x86 is emulated).
# M2Q_FORCE_EMULATION=1 runs 32-bit x86 through qemu-user even where the
# host runs it natively (every 32-bit program of the machine, while the
# stage runs; the emulator's entry is removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
start=$SECONDS
fail() { echo "test_wine: FAIL: $*" >&2; exit 1; }
note() { echo "test_wine: $* ($((SECONDS - start)) s)" >&2; }

scripts/apt_install.sh cmake ninja-build g++ libgtest-dev googletest locales file \
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine64 wine32:i386 xvfb imagemagick fonts-ipafont-gothic \
  procps

# Code page 932 for Wine; Shift-JIS for the Linux front end's batch.
LC_ALL=ja_JP.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8 || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
locales="$root/build-win32/locales"
if [ ! -d "$locales/ja_JP.SJIS" ]; then
  mkdir -p "$locales"  # Shift-JIS is not ASCII-compatible: localedef warns, exit 1
  localedef -c --no-warnings=ascii -i ja_JP -f SHIFT_JIS "$locales/ja_JP.SJIS" || true
  [ -d "$locales/ja_JP.SJIS" ] || fail "could not make the ja_JP.SJIS locale"
fi

# --- builds: the 32-bit Windows programs, the Linux front end ----------------------------
build() {  # WHAT CONFIGURE-PRESET BUILD-PRESET
  local log
  log="$(mktemp)"
  if ! { cmake --preset "$2" && cmake --build --preset "$3" -j2; } >"$log" 2>&1; then
    cat "$log" >&2; rm -f "$log"; fail "$1"
  fi
  rm -f "$log"
}
note "building"
build "cross build in build-win32" win32 win32
if [ -f build/CMakeCache.txt ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' build/CMakeCache.txt; then
  rm -rf build
fi
build "native build of the Linux front end and the inputs' ctest step" native native-programs
exe_dir="$root/build-win32"

# The release programs: 32-bit, importing system DLLs only.
for exe in melno2quaz:GUI melno2quaz-cli:console; do
  type="$(file -b "$exe_dir/${exe%:*}.exe")"
  [[ "$type" == "PE32 executable (${exe#*:}) Intel 80386"* ]] || fail "${exe%:*}.exe is $type"
  for dll in $(i686-w64-mingw32-objdump -p "$exe_dir/${exe%:*}.exe" | sed -n 's/^\s*DLL Name: //p'); do
    [[ "${dll,,}" =~ ^(kernel32|user32|gdi32|shell32|advapi32|msvcrt|comctl32|comdlg32|ole32)\.dll$ ]] ||
      fail "${exe%:*}.exe imports $dll"
  done
done

# --- 32-bit x86, natively or emulated ----------------------------------------------------------
cleanup() { :; }
trap 'cleanup' EXIT
if [ "${M2Q_FORCE_EMULATION:-0}" = 1 ]; then
  unregister() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386 || true; }
  trap 'cleanup; unregister' EXIT
  i386="$(scripts/enable_i386.sh --force)" || fail "could not make this host run 32-bit x86 programs"
else
  i386="$(scripts/enable_i386.sh)" || fail "could not make this host run 32-bit x86 programs"
fi
note "32-bit x86 programs: $i386"

# --- inputs: made by the ctest step wine_harness_inputs (tests/windows/make_inputs.sh) ------------
work="$root/build-win32/wine-test"
for mounted in readonly small small-unit; do
  if mountpoint -q "$work/$mounted" 2>/dev/null; then umount "$work/$mounted"; fi
done
rm -rf "$work"
mkdir -p "$work"
inputs_log="$(mktemp)"
if ! M2Q_WINE_WORK="$work" M2Q_SJIS_LOCALES="$locales" \
     ctest --test-dir build -L wine-inputs --output-on-failure >"$inputs_log" 2>&1; then
  cat "$inputs_log" >&2; rm -f "$inputs_log"; fail "making the harness's inputs"
fi
rm -f "$inputs_log"
small_unit=""
if mountpoint -q "$work/small-unit"; then
  small_unit="$work/small-unit"
else
  echo "test_wine: note: no small drive could be mounted; the full-drive rows do not run" >&2
fi

# --- Wine: a display, a prefix, one Wine server for the whole stage -------------------------------
# A 64-bit prefix: Wine's own programs (set-up, services, desktop, server)
# run natively; the 32-bit programs under test run in it as on 64-bit
# Windows.
export WINEARCH=win64 WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="  # no Mono, Gecko, menus
export WINEPREFIX="${M2Q_WINEPREFIX:-$work/prefix}"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
display=77
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wineserver" -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  for mounted in readonly small small-unit; do
    if mountpoint -q "$work/$mounted" 2>/dev/null; then umount "$work/$mounted" || true; fi
  done
}
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"
export DISPLAY=":$display"
mkdir -p "$WINEPREFIX"
"$wineserver" -k >/dev/null 2>&1 || true  # one left from a run on a kept prefix
"$wineserver" -p

# A Wine program in FOLDER under a time limit, its output in LOG; run_wine
# waits for it, and a program out of time stops the stage with its output.
start_wine() {  # FOLDER SECONDS LOG COMMAND... (sets pid)
  local folder="$1" limit="$2" log="$3"
  shift 3
  (cd "$folder" && exec timeout --kill-after=15 "$limit" "$@") >"$log" 2>&1 &
  pid=$!
  pids+=("$pid")
}
finish_wine() {  # LABEL PID LOG (returns the program's exit status)
  local status=0
  wait "$2" || status=$?
  note "$1: exit $status"
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    tr -d '\r' <"$3" | tail -n 60 >&2
    fail "$1 ran out of time (log: $3)"
  fi
  return "$status"
}

note "making the Wine prefix"
start_wine "$work" 900 "$work/wineboot.log" "$wine" wineboot -i
finish_wine wineboot "$pid" "$work/wineboot.log" || { tail -n 60 "$work/wineboot.log" >&2; fail "wineboot"; }
# The first program of a prefix stops waiting for its set-up after five
# minutes, while the set-up goes on: wait for the set-up program itself.
wineboot_running() {
  local p
  for p in $(pgrep -f 'wineboot\.exe' || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
for _ in $(seq 450); do wineboot_running || break; sleep 2; done
note "Wine prefix ready"

# --- the tests -----------------------------------------------------------------------------------
winpath() { printf 'Z:%s' "${1//\//\\}"; }
parts=" ${M2Q_WINE_PARTS:-harness-932 harness-1252 unit interrupt zip} "
wanted() { [[ "$parts" == *" $1 "* ]]; }
mkdir -p "$work/unit"
status=0
harness() {  # CODE-PAGE LC_ALL
  local log="$work/harness-$1.log" code=0
  LC_ALL="$2" start_wine "$work" 900 "$log" "$wine" "$exe_dir/m2q_window_harness.exe" \
    "$(winpath "$work")" "$(winpath "${M2Q_PROGRAMS_DIR:-$exe_dir}")" "$1" ${M2Q_HARNESS_ROWS:+"$M2Q_HARNESS_ROWS"}
  finish_wine "window harness (code page $1)" "$pid" "$log" || code=$?
  tr -d '\r' <"$log"
  [ "$code" -eq 0 ] || { echo "test_wine: FAIL: window harness, code page $1 (exit $code)" >&2; status=1; }
}
# The unit tests run beside the second harness run only: the first one
# times how the window answers, which must not compete with them.
if wanted harness-932; then harness 932 ja_JP.UTF-8; fi
if wanted unit; then
  if [ -n "$small_unit" ]; then
    M2Q_SMALL_FOLDER="$(winpath "$small_unit")" start_wine "$work/unit" 900 "$work/unit.log" "$wine" \
      "$exe_dir/tests/m2q_tests.exe"
  else
    start_wine "$work/unit" 900 "$work/unit.log" "$wine" "$exe_dir/tests/m2q_tests.exe" \
      --gtest_filter=-Win32Files.AFullDriveSaysWhy
  fi
  unit_pid=$pid
fi
if wanted harness-1252; then harness 1252 C.UTF-8; fi

if wanted unit; then
  unit=0
  finish_wine "m2q_tests.exe" "$unit_pid" "$work/unit.log" || unit=$?
  tr -d '\r' <"$work/unit.log" | grep -E '^\[  (FAILED|SKIPPED|PASSED) |^\[==========\] .* ran\.' || true
  if [ "$unit" -ne 0 ] || grep -q '^\[  SKIPPED \]' "$work/unit.log"; then
    echo "test_wine: FAIL: unit tests under Wine, exit $unit (log: $work/unit.log)" >&2
    status=1
  fi
fi

# Ctrl+C to melno2quaz-cli.exe: Wine turns a SIGINT of its console program
# into CTRL_C_EVENT. Sent once, while the third of the 40 saves is in hand,
# to the Windows process alone (its command line names the program with a
# backslash, the launcher's with a slash; it runs in the row's folder): the
# file in hand is finished,
# the rest recorded with code 7, no temporary file is left, and the exit
# status is STATUS_CONTROL_C_EXIT (0xC000013A, 58 to Linux).
if wanted interrupt; then
  folder="$work/interrupt"
  rm -rf "$folder" && mkdir -p "$folder" && cp "$work"/batch40/s*.psu "$folder/"
  start_wine "$folder" 300 "$work/interrupt.log" "$wine" "$exe_dir/melno2quaz-cli.exe" \
    $(cd "$folder" && ls s*.psu)
  launched=$pid
  for _ in $(seq 6000); do [ -e "$folder/gamedata_s02.dat" ] && break; sleep 0.01; done
  program=""
  for _ in $(seq 100); do
    for candidate in $(pgrep -f '\\melno2quaz-cli\.exe' || true); do
      [ "$(readlink "/proc/$candidate/cwd")" = "$folder" ] && program=$candidate
    done
    [ -n "$program" ] && break
    sleep 0.05
  done
  [ -n "$program" ] && kill -INT "$program"
  code=0
  finish_wine "melno2quaz-cli.exe, interrupted" "$launched" "$work/interrupt.log" || code=$?
  converted=$(ls "$folder" | grep -c '^gamedata_' || true)
  first_stopped="$(printf '%04d/0040' $((converted + 1)))"
  cut_at=$(grep -a -b -o "$first_stopped" "$work/batch40-linux/report.txt" | head -n 1 | cut -d: -f1 || true)
  problems=()
  [ "$code" -eq 58 ] || problems+=("exit status $code, not 58")
  [ "$converted" -ge 3 ] && [ "$converted" -lt 40 ] || problems+=("$converted converted, not from 3 to 39")
  for output in "$folder"/gamedata_*; do
    cmp -s "$output" "$work/batch40-linux/$(basename "$output")" || problems+=("$(basename "$output") differs")
  done
  [ -n "$cut_at" ] && cmp -s -n "$cut_at" "$folder/report.txt" "$work/batch40-linux/report.txt" ||
    problems+=("report.txt: the records of the files converted are not the Linux program's")
  [ "$(grep -a -c '(Err:7)' "$folder/report.txt")" -eq $((40 - converted)) ] ||
    problems+=("report.txt: not $((40 - converted)) records with code 7")
  ! ls -a "$folder" | grep -q '^\.m2q-' || problems+=("a temporary file left")
  if [ "${#problems[@]}" -eq 0 ]; then
    echo "ok: Ctrl+C to melno2quaz-cli.exe ($converted of 40 converted)"
  else
    printf 'test_wine: FAIL: Ctrl+C to melno2quaz-cli.exe: %s\n' "${problems[@]}" >&2
    status=1
  fi
fi

# kill -9 to melno2quaz-cli.exe at random moments of a batch of six saves
# that already have outputs: every output holds its old bytes or the Linux
# program's, and no temporary file stays (Windows removes a temporary file
# whose process ended before it was whole) but, rarely, a whole one the
# kill caught between its naming and the replace. M2Q_WINE_KILLS rounds (20).
if wanted interrupt; then
  folder="$work/killed"
  rm -rf "$folder" && mkdir -p "$folder" && cp "$work"/batch40/s0[0-5].psu "$folder/"
  old_save() { for i in 0 1 2 3 4 5; do head -c 1000 /dev/zero >"$folder/gamedata_s0$i.dat"; done; }
  old_save
  whole_start=$(date +%s%N)
  start_wine "$folder" 300 "$work/killed.log" "$wine" "$exe_dir/melno2quaz-cli.exe" s00.psu s01.psu s02.psu \
    s03.psu s04.psu s05.psu
  finish_wine "melno2quaz-cli.exe, six saves" "$pid" "$work/killed.log" || true
  whole_ms=$(( ($(date +%s%N) - whole_start) / 1000000 ))
  rounds=${M2Q_WINE_KILLS:-20}
  killed=0 left=0 problems=()
  RANDOM=20261208
  for round in $(seq "$rounds"); do
    old_save
    start_wine "$folder" 300 "$work/killed.log" "$wine" "$exe_dir/melno2quaz-cli.exe" s00.psu s01.psu \
      s02.psu s03.psu s04.psu s05.psu
    launched=$pid
    sleep "$(awk -v r=$RANDOM -v w="$whole_ms" 'BEGIN { printf "%.3f", (r % (w + 1)) / 1000 }')"
    for candidate in $(pgrep -f '\\melno2quaz-cli\.exe' || true); do
      [ "$(readlink "/proc/$candidate/cwd")" = "$folder" ] && kill -KILL "$candidate" && killed=$((killed + 1))
    done
    wait "$launched" 2>/dev/null || true
    # The server closes the killed program's files once it sees it gone.
    for _ in $(seq 50); do ls -a "$folder" | grep -q '^\.m2q-' || break; sleep 0.1; done
    if ls -a "$folder" | grep -q '^\.m2q-'; then
      # Only a whole file may stay: the kill fell between its naming and the replace.
      for temporary in "$folder"/.m2q-*; do
        [ "$(stat -c %s "$temporary")" -eq 5184406 ] || problems+=("round $round: a part of a save stayed")
      done
      left=$((left + 1)); rm -f "$folder"/.m2q-*
    fi
    for i in 0 1 2 3 4 5; do
      output="$folder/gamedata_s0$i.dat"
      [ "$(stat -c %s "$output")" -eq 1000 ] || cmp -s "$output" "$work/batch40-linux/gamedata_s0$i.dat" ||
        problems+=("round $round: gamedata_s0$i.dat damaged")
    done
  done
  echo "kill -9 to melno2quaz-cli.exe: $killed of $rounds rounds killed, $left left a temporary file (a whole run took $whole_ms ms)"
  [ "$left" -le $((rounds / 5)) ] || problems+=("$left of $rounds rounds left a temporary file")
  if [ "${#problems[@]}" -eq 0 ]; then
    echo "ok: kill -9 to melno2quaz-cli.exe"
  else
    printf 'test_wine: FAIL: kill -9 to melno2quaz-cli.exe: %s\n' "${problems[@]}" >&2
    status=1
  fi
fi

for shot in window-932-96:window.png window-1252-96:window-cp1252.png window-idle:window-idle.png \
  window-during:window-during.png window-after:window-after.png; do
  bitmap="$work/shots/${shot%%:*}.bmp"
  [ -f "$bitmap" ] || continue
  convert "$bitmap" -strip "$root/build-win32/${shot#*:}"
  if [ "${M2Q_UPDATE_SCREENSHOT:-0}" = 1 ]; then cp "$root/build-win32/${shot#*:}" docs/; fi
done

if ! wanted zip; then
  [ "$status" -eq 0 ] || fail "see above"
  note "Windows stage: the parts asked for passed ($parts)"
  exit 0
fi
# The release zip (CPack, preset win32) holds the very programs tested here.
zip="$(scripts/package_release.sh win32)" || fail "packaging the release zip"
top="$(basename "$zip" .zip)"
listing="$(cmake -E tar tf "$zip")"
for entry in melno2quaz.exe melno2quaz-cli.exe README-windows.txt LICENSE.txt; do
  grep -qx "$top/$entry" <<<"$listing" || { echo "test_wine: FAIL: $entry missing from $zip" >&2; status=1; }
done
unpacked="$work/release-zip"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
for exe in melno2quaz.exe melno2quaz-cli.exe; do
  cmp -s "$exe_dir/$exe" "$unpacked/$top/$exe" || { echo "test_wine: FAIL: $exe in $zip is not the one tested" >&2; status=1; }
done
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' docs/README-windows.txt; } | cmp -s - "$unpacked/$top/README-windows.txt" ||
  { echo "test_wine: FAIL: README-windows.txt in $zip is not docs/README-windows.txt with a BOM and CR LF" >&2; status=1; }
sed 's/$/\r/' LICENSE | cmp -s - "$unpacked/$top/LICENSE.txt" ||
  { echo "test_wine: FAIL: LICENSE.txt in $zip is not LICENSE with CR LF" >&2; status=1; }

[ "$status" -eq 0 ] || fail "see above"
note "Windows stage passed"
