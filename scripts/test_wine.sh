#!/usr/bin/env bash
# Windows stage: cross-builds melno2quaz for 32-bit Windows with MinGW-w64
# and runs the 32-bit release programs themselves under Wine, headless:
#   1. the unit tests (m2q_tests.exe) on the real Win32 calls, code page 932;
#   2. the real window (tests/windows/window_harness.cpp): a genuine
#      WM_DROPFILES with a batch of real files (one path longer than 259
#      bytes among them), compared byte for byte with the Linux front end;
#      an empty drop; a drop whose report cannot be written (a message box,
#      no report opened); the version, manifest and icon of melno2quaz.exe;
#   3. melno2quaz.exe started with the same files on its command line: the
#      same report, opened; its window's title, class, style and size, a
#      screenshot with the text lines where they belong, exit code 0;
#   4. melno2quaz-cli.exe on the same batch;
#   5. melno2quaz.exe under code page 1252: the same text pixels as under 932.
#
# Where the host cannot execute 32-bit x86 programs (no IA-32 emulation in
# its kernel), the stage registers qemu-user for them with binfmt_misc (as
# root). A 32-bit Wine process then takes about a minute to start, so Wine
# itself runs 64-bit (a 64-bit prefix, where the 32-bit programs run as on
# 64-bit Windows), one Wine server is kept for the whole stage and few
# 32-bit programs are started. Only where even emulation is impossible are
# the same sources built for 64-bit Windows and run instead, and the stage
# says so.
#
# Each Wine program runs under a time limit; a program that fails or runs
# out of time is named with its output.
#
# M2Q_WINEPREFIX=DIR keeps the Wine prefix in DIR between runs.
# M2Q_UPDATE_SCREENSHOT=1 copies the screenshots to docs/window.png (code
# page 932) and docs/window-cp1252.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
stage_start=$SECONDS

fail() { echo "test_wine: FAIL: $*" >&2; exit 1; }
passed=0
pass() { passed=$((passed + 1)); echo "test_wine: ok: $*"; }
note() { echo "test_wine: $* ($((SECONDS - stage_start)) s)" >&2; }

mkdir -p build-win32
# Whether this host executes 32-bit x86 programs: a 96-byte static ELF32
# program that only calls exit(42) through int 0x80.
host_runs_i386() {
  local probe="$root/build-win32/i386-probe"
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"  # ELF32, LSB
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08' >>"$probe"  # EXEC, 386, entry 0x8048054
  printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >>"$probe"  # program headers at 52
  printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"  # one of 32 bytes
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"  # LOAD all
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"  # 96 bytes, R+X
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"  # mov eax,1; mov ebx,42; int 0x80
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# Lets the kernel hand 32-bit x86 programs to qemu-user (Debian's
# qemu-user-static leaves i386 out on amd64). Needs root; does nothing where
# the entry exists already.
binfmt=/proc/sys/fs/binfmt_misc
register_i386_emulation() {
  [ "$(id -u)" -eq 0 ] || { note "not root: cannot register an emulator for 32-bit programs"; return 1; }
  scripts/apt_install.sh qemu-user-static
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    echo 1 >"$binfmt/qemu-i386"
  else
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register" || return 1
  fi
}

# An emulator registered earlier (the entry lasts until the next boot) is
# only seen where binfmt_misc is mounted: a chroot, say, may not have it.
if [ "$(id -u)" -eq 0 ] && [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
run_i386=native
if [ -e "$binfmt/qemu-i386" ] && grep -qx enabled "$binfmt/qemu-i386" && host_runs_i386; then
  run_i386=emulated
elif ! host_runs_i386; then
  run_i386=none
  if register_i386_emulation && host_runs_i386; then
    run_i386=emulated
  fi
fi
wine32=()
[ "$run_i386" = none ] || wine32=(wine32:i386)

scripts/apt_install.sh cmake ninja-build g++ libgtest-dev googletest locales file \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  wine wine64 "${wine32[@]}" xvfb imagemagick fonts-ipafont-gothic

# --- locales: code page 932 for Wine, Shift-JIS for the Linux comparison -----
if ! LC_ALL=ja_JP.UTF-8 locale charmap 2>/dev/null | grep -qx UTF-8; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
locales="$root/build-win32/locales"
if [ ! -d "$locales/ja_JP.SJIS" ]; then
  mkdir -p "$locales"
  # Shift-JIS is not ASCII-compatible, which localedef warns about (exit 1).
  localedef -c --no-warnings=ascii -i ja_JP -f SHIFT_JIS "$locales/ja_JP.SJIS" || true
  [ -d "$locales/ja_JP.SJIS" ] || fail "could not make the ja_JP.SJIS locale"
fi

# --- builds -------------------------------------------------------------------
build_log="$(mktemp)"
trap 'rm -f "$build_log"' EXIT
cross_build() {  # DIR TOOLCHAIN
  if ! { cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
           -DCMAKE_TOOLCHAIN_FILE="cmake/$2.cmake" &&
         cmake --build "$1" -j2; } >"$build_log" 2>&1; then
    cat "$build_log" >&2
    fail "cross build in $1"
  fi
}
note "cross-building for 32-bit Windows in build-win32/"
cross_build build-win32 mingw-w64-i686

if [ -f build/CMakeCache.txt ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' build/CMakeCache.txt; then
  rm -rf build
fi
if ! { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build -j2 --target melno2quaz make_melno_save; } >"$build_log" 2>&1; then
  cat "$build_log" >&2
  fail "native build of the Linux front end"
fi
linux_cli="$root/build/melno2quaz"
make_save="$root/build/make_melno_save"

# --- the release programs, as built ---------------------------------------------
gui_type="$(file -b build-win32/melno2quaz.exe)"
echo "file: melno2quaz.exe: $gui_type"
[[ "$gui_type" == "PE32 executable (GUI) Intel 80386"* ]] || fail "melno2quaz.exe is not a 32-bit GUI program"
cli_type="$(file -b build-win32/melno2quaz-cli.exe)"
echo "file: melno2quaz-cli.exe: $cli_type"
[[ "$cli_type" == "PE32 executable (console) Intel 80386"* ]] || fail "melno2quaz-cli.exe is not a 32-bit console program"
system_dlls='^(KERNEL32|USER32|GDI32|SHELL32|ADVAPI32|msvcrt)\.dll$'
for exe in melno2quaz melno2quaz-cli; do
  dlls="$(i686-w64-mingw32-objdump -p "build-win32/$exe.exe" | sed -n 's/^\s*DLL Name: //p')"
  echo "imports of $exe.exe: $(echo $dlls)"
  while read -r dll; do
    [[ "$dll" =~ $system_dlls ]] || fail "$exe.exe imports $dll, not a system DLL"
  done <<<"$dlls"
done
pass "PE32 GUI and console programs that import system DLLs only"

# --- which Wine -----------------------------------------------------------------
# A 64-bit prefix: Wine itself (its set-up, services, desktop and server)
# runs natively and fast; 32-bit programs run in it as on 64-bit Windows
# (WoW64), started by the 32-bit loader, emulated where the host needs it.
# Only the programs under test then pay for the emulation.
wineserver=/usr/lib/wine/wineserver
wine=/usr/lib/wine/wine64
export WINEARCH=win64
unit_dir=""
if [ "$run_i386" != none ]; then
  exe_dir="$root/build-win32"
  note "running the 32-bit release build under Wine ($run_i386 32-bit execution)"
  if [ "$run_i386" = emulated ]; then
    # The unit suite makes thousands of file calls; under emulation the
    # 32-bit test program stalled or died inside Wine in most runs (a wait
    # for the Wine server that never ended, an illegal instruction, a stack
    # smashed inside Wine), each time at another test, each test passing
    # when run alone. So where the host emulates 32-bit x86, the suite runs
    # built for 64-bit Windows, natively; the release programs stay 32-bit.
    cross_build build-win64 mingw-w64-x86_64
    unit_dir="$root/build-win64"
    note "the unit suite runs built for 64-bit Windows (native); the programs are 32-bit"
  fi
else
  note "this host cannot execute 32-bit programs, natively or emulated; running the same" \
    "sources built for 64-bit Windows instead of the 32-bit release build"
  cross_build build-win64 mingw-w64-x86_64
  exe_dir="$root/build-win64"
fi
harness="$exe_dir/m2q_window_harness.exe"
unit_dir="${unit_dir:-$exe_dir}"
if [ "$run_i386" = emulated ]; then
  # The test harness is no release program. Emulated, the 32-bit harness
  # died in its first drop in about half the runs ("qemu: uncaught target
  # signal 11"), while the 32-bit melno2quaz.exe converted the same batch
  # from its command line every time. So the harness runs as the 64-bit
  # build, natively; the programs it starts and checks stay 32-bit.
  harness="$unit_dir/m2q_window_harness.exe"
fi
# A Unix path as Wine's drive Z: (the Unix root) shows it to programs.
winpath() { local path="$1"; printf 'Z:%s' "${path//\//\\}"; }
work="$root/build-win32/wine-test"
if mountpoint -q "$work/readonly" 2>/dev/null; then umount "$work/readonly"; fi
rm -rf "$work"
mkdir -p "$work"

# One prefix, made afresh for every run of the stage (M2Q_WINEPREFIX names
# one to keep and reuse instead, for working on the stage itself).
export WINEPREFIX="${M2Q_WINEPREFIX:-$work/prefix}"
export WINEDEBUG=-all
export LC_ALL=ja_JP.UTF-8
mkdir -p "$WINEPREFIX"

# --- a display and a Wine server of our own, kept for the whole stage ----------------
display=77
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wine_pids=()
cleanup() {
  for pid in "${wine_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$wineserver" -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  if mountpoint -q "$work/readonly" 2>/dev/null; then umount "$work/readonly" || true; fi
  rm -f "$build_log"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"
export DISPLAY=":$display"
"$wineserver" -k >/dev/null 2>&1 || true  # one left from a run on a kept prefix
"$wineserver" -p

# Wine programs run under a time limit, with their output in a log. Two run
# at a time where they do not share a window (the host has two cores and an
# emulated start is bound by one of them). On failure or time-out the stage
# stops, naming the program and showing its output.
start_wine() {  # FOLDER SECONDS LOG COMMAND... (sets wine_pid)
  local folder="$1" limit="$2" log="$3"
  shift 3
  (cd "$folder" && exec timeout --kill-after=15 "$limit" "$@") >"$log" 2>&1 &
  wine_pid=$!
  wine_pids+=("$wine_pid")
}
finish_wine() {  # LABEL PID SECONDS LOG (returns the program's exit status)
  local status=0
  wait "$2" || status=$?
  note "$1: exit $status"
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "--- output of $1 (log: $4):" >&2; tail -n 60 "$4" | tr -d '\r' >&2
    fail "$1 did not finish within $3 s"
  fi
  return "$status"
}
run_wine() {  # LABEL FOLDER SECONDS LOG COMMAND...
  local label="$1"
  shift
  start_wine "$@"
  finish_wine "$label" "$wine_pid" "$2" "$3"
}

note "making the Wine prefix"
# Without Mono, Gecko and menu entries, which nothing here needs and whose
# set-up would start more programs.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
run_wine "wineboot" "$work" 1500 "$work/wineboot.log" "$wine" wineboot -i ||
  { tail -n 60 "$work/wineboot.log" >&2; fail "wineboot could not make the prefix"; }
# The first program of a new prefix stops waiting for its set-up after five
# minutes, but the set-up goes on (its 32-bit part, emulated, can take
# longer): wait for the set-up program itself.
wineboot_running() {
  local pid
  for pid in $(pgrep -f 'wineboot\.exe' || true); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      return 0
    fi
  done
  return 1
}
deadline=$((SECONDS + 1500))
while wineboot_running; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the set-up of the Wine prefix did not finish within 1500 s"
  sleep 2
done
note "Wine prefix ready"

# --- 1. unit tests, started here and judged after the window checks ----------------
mkdir -p "$work/unit"
start_wine "$work/unit" 900 "$work/unit.log" "$wine" "$unit_dir/tests/m2q_tests.exe"
unit_pid=$wine_pid

# --- inputs -----------------------------------------------------------------------------
# The same files in several folders: Wine keeps Unix file names in UTF-8,
# the Linux front end in a Shift-JIS locale takes the Shift-JIS bytes as they
# are. Among them a path of 269 bytes whose first 259 bytes name another
# save: it must be refused whole (code 6, recorded in full), never cut.
sjis_name=$'\x95\x5c.psu'    # 表.psu
long_dir="$(printf 'l%.0s' $(seq 200))"
cut_name="$(printf 'c%.0s' $(seq 47)).pppppppppp"   # the first 259 bytes of the long path
long_path="$long_dir/${cut_name}qqqqqqqqqq"
[ ${#long_path} -eq 269 ] && [ ${#long_dir} -eq 200 ] || fail "long path of ${#long_path} bytes"
make_inputs() {  # DIR NAME-OF-THE-SHIFT-JIS-FILE-ON-DISK
  mkdir -p "$1/saves.psu" "$1/$long_dir"
  "$make_save" --name-hex "93 8c 8b 9e 93 73" --map 3 --clock 3676029 --funds 1234567 "$1/city.psu" >/dev/null
  "$make_save" --pattern --name "Pattern Town 16!" --map -7 --clock -1 --funds -9223372036854775807 \
    "$1/pattern.save.psu" >/dev/null
  "$make_save" --size 5233663 "$1/short.psu" >/dev/null
  "$make_save" --fill 0x5c --name-hex "83 5c 83 5c" --map 2 --funds 1000 "$1/$2" >/dev/null
  "$make_save" --name "Cut" --map 1 "$1/$long_dir/$cut_name" >/dev/null
  printf 'not a save\r\n' >"$1/notes.txt"
}
drop_list=(city.psu short.psu saves.psu notes.txt "$sjis_name" "$long_path" pattern.save.psu city.psu)
utf8_name="$(printf '%s' "$sjis_name" | iconv -f CP932 -t UTF-8)"
# Wine reads Unix arguments in the Unix locale's encoding (UTF-8 here) and
# hands them to the program in Unicode or the ANSI code page.
wine_args=()
for name in "${drop_list[@]}"; do
  if [ "$name" = "$sjis_name" ]; then name="$utf8_name"; fi
  wine_args+=("$name")
done
for dir in window linux console cmdline; do
  if [ "$dir" = linux ]; then make_inputs "$work/$dir" "$sjis_name"; else make_inputs "$work/$dir" "$utf8_name"; fi
done
printf '%s\r\n' "${drop_list[@]}" >"$work/drop.lst"

(cd "$work/linux" && LOCPATH="$locales" LC_ALL=ja_JP.SJIS "$linux_cli" "${drop_list[@]}") \
  >"$work/linux.log" 2>&1 || true
[ -s "$work/linux/report.txt" ] || fail "the Linux front end wrote no report"
grep -qa "$long_path" "$work/linux/report.txt" || fail "the Linux report does not hold the long path in full"

# An empty drop.
mkdir -p "$work/empty"
: >"$work/empty.lst"

# A drop whose report cannot be written: a folder mounted read-only that
# holds an older report. Root writes anywhere else, so where no such mount
# can be made, report.txt is a folder instead.
mkdir -p "$work/readonly" "$work/readonly-sources"
"$make_save" --name "RO" --map 1 "$work/readonly-sources/city.psu" >/dev/null
printf 'not a save\r\n' >"$work/readonly-sources/notes.txt"
printf '%s\r\n' ../readonly-sources/city.psu ../readonly-sources/notes.txt >"$work/readonly.lst"
printf 'an older report\r\n' >"$work/readonly/report.txt"
if mount --bind "$work/readonly" "$work/readonly" 2>/dev/null &&
   mount -o remount,ro,bind "$work/readonly" 2>/dev/null; then
  readonly_kind="a read-only folder holding an older report.txt"
else
  if mountpoint -q "$work/readonly"; then umount "$work/readonly"; fi
  rm -f "$work/readonly/report.txt"
  mkdir "$work/readonly/report.txt"
  readonly_kind="report.txt is a folder"
fi

# --- 2. and 3. the window: drops, resources, the program with a command line -----------
# One run of the harness, under code page 932. The screenshot is taken when
# it says the window is ready.
harness_log="$work/harness-932.log"
start_harness_932() {
  start_wine "$work" 2400 "$harness_log" "$wine" "$harness" setup \
    resources "$(winpath "$exe_dir/melno2quaz.exe")" \
    drop window drop.lst drop empty empty.lst drop readonly readonly.lst \
    run cmdline "$(winpath "$exe_dir/melno2quaz.exe")" "${wine_args[@]}" end
  harness_pid=$wine_pid
}
start_harness_932
# Waits until the harness says the window is ready, takes the screenshot
# and lets the harness go on.
take_screenshot() {  # LOG PNG FOLDER
  while ! grep -q '^ready_for_screenshot=1' "$1"; do
    if ! kill -0 "$harness_pid" 2>/dev/null; then
      echo "--- output of the window harness (log: $1):" >&2; tr -d '\r' <"$1" >&2
      return 1
    fi
    sleep 1
  done
  import -window root "$2"
  : >"$3/shot.done"
}
# Under emulated 32-bit x86 the harness has now and then died in the
# emulator during the first drop ("qemu: uncaught target signal 11"; the
# same drop passed in other runs). Such a death, told by the emulator's or
# Wine's own message and only that, earns another run on fresh inputs, up
# to three runs in all, and the stage says so.
emulator_fault() { tr -d '\r' <"$1" | grep -qE '^qemu: uncaught target signal|Unhandled (page fault|illegal instruction)'; }
attempt=1
while ! take_screenshot "$harness_log" "$work/root-932.png" "$work/cmdline"; do
  wait "$harness_pid" 2>/dev/null || true
  emulator_fault "$harness_log" && [ "$attempt" -lt 3 ] ||
    fail "the window harness ended before the window was ready for its screenshot (run $attempt)"
  note "the window harness died in the emulator (output above); running it again on fresh inputs"
  mv "$harness_log" "$work/harness-932-run$attempt.log"
  attempt=$((attempt + 1))
  for dir in window cmdline empty; do rm -rf "${work:?}/$dir"; done
  make_inputs "$work/window" "$utf8_name"
  make_inputs "$work/cmdline" "$utf8_name"
  mkdir -p "$work/empty"
  start_harness_932
done
harness_exit=0
finish_wine "window harness (code page 932)" "$harness_pid" 2400 "$harness_log" || harness_exit=$?
tr -d '\r' <"$harness_log" >"$harness_log.txt"
cat "$harness_log.txt"
[ "$harness_exit" -eq 0 ] || fail "the window harness (exit $harness_exit; output above, log: $harness_log)"

# The output of one command of the harness: from its "command=" line to the
# next one; the Nth command of that name.
section() {  # NAME N
  awk -v name="$1" -v nth="$2" '/^command=/ { on = ($0 == "command=" name) && (++seen[name] == nth) } on' \
    "$harness_log.txt"
}
value() {  # SECTION-TEXT KEY
  sed -n "s/^$2=//p" <<<"$1" | head -n 1
}
expected_edit="$(printf '[edit("%s")]' 'report.txt')"
edited_report() {  # SECTION-TEXT FOLDER-NAME: the report of that folder was asked to be edited, once
  [ "$(value "$1" edit_requests)" = 1 ] || return 1
  local edit
  edit="$(value "$1" edit)"
  [[ "$edit" == '[edit("'*"\\$2\\report.txt\")]" ]] || [ "$edit" = "$expected_edit" ]
}

resources="$(section resources 1)"
[ "$(value "$resources" version_info)" = 1 ] || fail "melno2quaz.exe has no version information"
[ "$(value "$resources" file_version)" = 1.0.0.0 ] || fail "file version $(value "$resources" file_version)"
[ "$(value "$resources" ProductName)" = melno2quaz ] || fail "product name"
[ "$(value "$resources" ProductVersion)" = 1.0.0 ] || fail "product version"
[ -n "$(value "$resources" FileDescription)" ] || fail "no file description"
for item in asInvoker supportedOS dpiAware PerMonitorV2; do
  [ "$(value "$resources" "manifest_$item")" = 1 ] || fail "the manifest lacks $item"
done
[ "$(value "$resources" icon_sizes)" = "16 32 48" ] || fail "icon sizes: $(value "$resources" icon_sizes)"
pass "melno2quaz.exe carries version $(value "$resources" ProductVersion) (\"$(value "$resources" FileDescription)\"), a manifest (asInvoker, supported OS, DPI aware) and icons of 16, 32 and 48 pixels"

drop="$(section drop 1)"
[ "$(value "$drop" drop_handled)" = 1 ] || fail "WM_DROPFILES was not handled"
edited_report "$drop" window || fail "report.txt was not opened with the verb edit after the drop"
[ "$(value "$drop" message_boxes)" = 0 ] || fail "a message box after a drop whose report was written"
[ "$(value "$drop" loop_exit)" = 0 ] || fail "the message loop did not end with 0"
cmp "$work/window/report.txt" "$work/linux/report.txt" || fail "report.txt differs from the Linux one"
outputs=0
for linux_output in "$work/linux"/gamedata_*; do
  name="$(basename "$linux_output" | iconv -f CP932 -t UTF-8)"
  cmp "$work/window/$name" "$linux_output" || fail "$name differs from the Linux output"
  outputs=$((outputs + 1))
done
window_outputs=$(find "$work/window" -maxdepth 1 -name 'gamedata_*' | wc -l)
[ "$outputs" -eq 3 ] && [ "$window_outputs" -eq 3 ] ||
  fail "expected 3 outputs on both sides, got $outputs (Linux) and $window_outputs (Wine)"
[ -f "$work/window/gamedata_$(printf '%s' "$utf8_name" | sed 's/\.psu$/.dat/')" ] ||
  fail "gamedata_表.dat is not beside 表.psu"
[ -z "$(ls "$work/window/$long_dir")" ] || [ "$(ls "$work/window/$long_dir")" = "$cut_name" ] ||
  fail "something was written beside the file the cut long path names: $(ls "$work/window/$long_dir")"
long_record="$(grep -a -A2 "$long_path" "$work/window/report.txt" | tail -n 1)"
[[ "$long_record" == *'(Err:6)'* ]] || fail "the long path's record does not end in code 6: $long_record"
echo "report.txt: $(wc -c <"$work/window/report.txt") bytes, $outputs Quaz saves, identical on Linux and under Wine"
pass "window batch identical to the Linux batch (a 269-byte path recorded whole with code 6, the file its cut names untouched), report opened with the verb edit"

empty="$(section drop 2)"
edited_report "$empty" empty || fail "the report was not opened after an empty drop"
if [ "$(value "$empty" drop_count)" = 0 ]; then
  [ -f "$work/empty/report.txt" ] && [ ! -s "$work/empty/report.txt" ] || fail "an empty drop must leave an empty report.txt"
  pass "empty drop: empty report.txt, opened all the same"
else
  # Wine's DragQueryFileA counts a drop without files as one file with an
  # empty name; the window converts what the drop reports.
  [ "$(value "$empty" drop_count)" = 1 ] || fail "unexpected count for an empty drop"
  {
    printf '0001/0001\r\n  '
    printf '変換元:' | iconv -f UTF-8 -t CP932
    printf '\r\n  '
    printf 'Melnoのデータではありません。\n' | iconv -f UTF-8 -t CP932
    printf '  (Err:2)\r\n\r\n'
  } >"$work/empty-expected.txt"
  cmp "$work/empty/report.txt" "$work/empty-expected.txt" || fail "report of the empty drop"
  note "note: Wine's DragQueryFileA reports an empty drop as one file with an empty name"
  pass "empty drop: the report holds what DragQueryFileA reported and was opened all the same"
fi

readonly_drop="$(section drop 3)"
[ "$(value "$readonly_drop" edit_requests)" = 0 ] || fail "a report was opened although this batch could not write it"
[ "$(value "$readonly_drop" message_boxes)" = 1 ] || fail "no message box when the report could not be written"
box="$(value "$readonly_drop" message_box)"
echo "message box: $box"
[[ "$box" == *"report.txtをこのフォルダに書き込めませんでした。"* ]] || fail "Japanese text of the message box"
[[ "$box" == *"report.txt could not be written in this folder:"* ]] || fail "English text of the message box"
[[ "$box" == *"変換: 1 件、失敗: 1 件"* && "$box" == *"Converted: 1, failed: 1"* ]] || fail "counts in the message box"
[[ "$box" == *'\readonly'* ]] || fail "the message box does not name the folder"
[ -f "$work/readonly-sources/gamedata_city.dat" ] || fail "the save was not converted although the report could not be written"
if [ -f "$work/readonly/report.txt" ]; then
  [ "$(cat "$work/readonly/report.txt")" = $'an older report\r' ] || fail "the older report changed"
fi
pass "report not writable ($readonly_kind): message box in Japanese and English with the counts, no report opened"

run="$(section run 1)"
[ "$(value "$run" started)" = 1 ] || fail "melno2quaz.exe did not start"
edited_report "$run" cmdline || fail "the report of the command-line batch was not opened with the verb edit"
cmp "$work/cmdline/report.txt" "$work/linux/report.txt" || fail "the command-line batch's report differs from the Linux one"
for output in "$work/window"/gamedata_*; do
  cmp "$output" "$work/cmdline/$(basename "$output")" || fail "command-line output $(basename "$output") differs"
done
pass "files on melno2quaz.exe's command line converted as one batch when the window opens, report opened"

[ "$(value "$run" program_exit)" = 0 ] || fail "melno2quaz.exe ended with exit code $(value "$run" program_exit)"
pass "closing the window ends melno2quaz.exe with exit code 0"

expected_title="$(printf 'Melno→Quazデータ変換' | iconv -f UTF-8 -t CP932 | od -An -tx1 | tr -d ' \n')"
check_window() {  # SECTION-TEXT
  [ "$(value "$1" title_sjis_hex)" = "$expected_title" ] || fail "window title $(value "$1" title_sjis_hex), expected $expected_title"
  [ "$(value "$1" class_style)" = "0x3" ] || fail "class style $(value "$1" class_style), expected CS_HREDRAW|CS_VREDRAW"
  [ "$(value "$1" window_style)" = "0xcf0000" ] || fail "window style $(value "$1" window_style), expected WS_OVERLAPPEDWINDOW"
  [ "$(value "$1" accepts_files)" = "1" ] || fail "the window is no drop target"
  local wx wy ww wh
  read -r wx wy ww wh <<<"$(value "$1" window_rect)"
  [ "$ww" -eq 480 ] && [ "$wh" -eq 224 ] || fail "window is ${ww}x$wh, expected 480x224"
}
check_window "$run"
[ "$(value "$run" code_page)" = 932 ] || fail "code page $(value "$run" code_page), expected 932"
pass "title, class, style, size and drop target of the window (code page 932)"

# Dark pixels, and pixels that are not pure white, in a rectangle of a
# screenshot.
dark() {  # PNG W H X Y
  convert "$1" -crop "$2x$3+$4+$5" +repage -colorspace Gray -threshold 50% -negate \
    -format '%[fx:round(mean*w*h)]' info:
}
not_white() {  # PNG W H X Y
  convert "$1" -crop "$2x$3+$4+$5" +repage -alpha off -fill black +opaque white \
    -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:
}
shot="$work/root-932.png"
read -r cx cy cw ch <<<"$(value "$run" client_rect)"
read -r l1x l1y <<<"$(value "$run" line1_at)"
read -r l2x l2y <<<"$(value "$run" line2_at)"
read -r e1w e1h <<<"$(value "$run" line1_extent)"
read -r e2w e2h <<<"$(value "$run" line2_extent)"
client_dark=$(dark "$shot" "$cw" "$ch" "$cx" "$cy")
band1_dark=$(dark "$shot" "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y)))
band2_dark=$(dark "$shot" "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))
tail1_dark=$(dark "$shot" $((e1w / 10)) "$e1h" $((cx + l1x + e1w - e1w / 10)) $((cy + l1y)))
tail2_dark=$(dark "$shot" $((e2w / 10)) "$e2h" $((cx + l2x + e2w - e2w / 10)) $((cy + l2y)))
outside_dark=$((client_dark - band1_dark - band2_dark))
outside_not_white=$(($(not_white "$shot" "$cw" "$ch" "$cx" "$cy") - $(not_white "$shot" "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y))) \
  - $(not_white "$shot" "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))))
echo "screenshot: client ${cw}x$ch at ($cx,$cy); line 1 band ${e1w}x$e1h at ($l1x,$l1y): $band1_dark dark pixels" \
  "(last tenth: $tail1_dark); line 2 band ${e2w}x$e2h at ($l2x,$l2y): $band2_dark (last tenth: $tail2_dark);" \
  "elsewhere in the client area: $outside_dark dark, $outside_not_white not white"
[ "$band1_dark" -gt 500 ] && [ "$band2_dark" -gt 500 ] || fail "a text line is missing from the screenshot"
[ "$tail1_dark" -gt 20 ] && [ "$tail2_dark" -gt 20 ] || fail "a text line is not drawn in full"
[ "$outside_dark" -eq 0 ] || fail "$outside_dark dark pixels outside the two text lines"
[ "$outside_not_white" -eq 0 ] || fail "the client area is not white outside the two text lines"
read -r wx wy ww wh <<<"$(value "$run" window_rect)"
convert "$shot" -crop "${ww}x$wh+$wx+$wy" +repage -strip "$root/build-win32/window.png"
convert "$shot" -crop "${cw}x$ch+$cx+$cy" +repage -strip "$work/client-932.png"
pass "screenshot: both lines painted where they belong, white everywhere else in the client area"

# --- DPI: melno2quaz.exe at 192 dpi (LogPixels 192 for this run only) ----------------
# Against the 96-dpi run above: the client area twice as wide and as high,
# the lines twice as tall (the font's rounding may take a pixel) and painted
# where they belong, white everywhere else in the client area.
set_log_pixels() {  # DPI
  run_wine "LogPixels $1" "$work" 300 "$work/log-pixels.log" \
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f ||
    fail "could not set LogPixels to $1"
}
base_cw=$cw base_ch=$ch base_e1h=$e1h base_e2h=$e2h
set_log_pixels 192
harness_log="$work/harness-192dpi.log"
mkdir -p "$work/shot192"
start_wine "$work" 900 "$harness_log" "$wine" "$harness" run shot192 "$(winpath "$exe_dir/melno2quaz.exe")" end
harness_pid=$wine_pid
shot_taken=1
take_screenshot "$harness_log" "$work/root-192dpi.png" "$work/shot192" || shot_taken=0
harness_exit=0
finish_wine "window harness (192 dpi)" "$harness_pid" 900 "$harness_log" || harness_exit=$?
set_log_pixels 96
tr -d '\r' <"$harness_log" >"$harness_log.txt"
[ "$shot_taken" = 1 ] && [ "$harness_exit" -eq 0 ] ||
  { cat "$harness_log.txt" >&2; fail "the window harness at 192 dpi (exit $harness_exit)"; }
dpi_run="$(section run 1)"
[ "$(value "$dpi_run" dpi)" = 192 ] || fail "the window is laid out at $(value "$dpi_run" dpi) dpi, expected 192"
shot="$work/root-192dpi.png"
read -r cx cy cw ch <<<"$(value "$dpi_run" client_rect)"
read -r l1x l1y <<<"$(value "$dpi_run" line1_at)"
read -r l2x l2y <<<"$(value "$dpi_run" line2_at)"
read -r e1w e1h <<<"$(value "$dpi_run" line1_extent)"
read -r e2w e2h <<<"$(value "$dpi_run" line2_extent)"
echo "192 dpi: window $(value "$dpi_run" window_rect), client ${cw}x$ch (96 dpi: ${base_cw}x$base_ch);" \
  "lines ${e1w}x$e1h at ($l1x,$l1y) and ${e2w}x$e2h at ($l2x,$l2y) (96 dpi: $base_e1h and $base_e2h high)"
[ "$cw" -eq $((2 * base_cw)) ] && [ "$ch" -eq $((2 * base_ch)) ] ||
  fail "client area ${cw}x$ch at 192 dpi, expected $((2 * base_cw))x$((2 * base_ch))"
[ $((e1h - 2 * base_e1h)) -ge -1 ] && [ $((e1h - 2 * base_e1h)) -le 1 ] &&
  [ $((e2h - 2 * base_e2h)) -ge -1 ] && [ $((e2h - 2 * base_e2h)) -le 1 ] ||
  fail "lines $e1h and $e2h high at 192 dpi, expected about $((2 * base_e1h)) and $((2 * base_e2h))"
band1_dark=$(dark "$shot" "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y)))
band2_dark=$(dark "$shot" "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))
tail1_dark=$(dark "$shot" $((e1w / 10)) "$e1h" $((cx + l1x + e1w - e1w / 10)) $((cy + l1y)))
tail2_dark=$(dark "$shot" $((e2w / 10)) "$e2h" $((cx + l2x + e2w - e2w / 10)) $((cy + l2y)))
outside_not_white=$(($(not_white "$shot" "$cw" "$ch" "$cx" "$cy") - $(not_white "$shot" "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y))) \
  - $(not_white "$shot" "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))))
echo "192 dpi screenshot: $band1_dark and $band2_dark dark pixels in the bands (last tenths: $tail1_dark, $tail2_dark)," \
  "$outside_not_white not white elsewhere in the client area"
[ "$band1_dark" -gt 2000 ] && [ "$band2_dark" -gt 2000 ] || fail "a text line is missing at 192 dpi"
[ "$tail1_dark" -gt 80 ] && [ "$tail2_dark" -gt 80 ] || fail "a text line is not drawn in full at 192 dpi"
[ "$outside_not_white" -eq 0 ] || fail "the client area is not white outside the two text lines at 192 dpi"
pass "192 dpi: client area ${cw}x$ch (twice ${base_cw}x$base_ch), lines $e1h and $e2h high (96 dpi: $base_e1h and $base_e2h), painted where they belong"
# --- end of DPI ------------------------------------------------------------------------

# --- 1. unit tests, run beside the window checks -----------------------------------------
unit_status=0
finish_wine "m2q_tests.exe" "$unit_pid" 900 "$work/unit.log" || unit_status=$?
if [ "$unit_status" -ne 0 ]; then
  tr -d '\r' <"$work/unit.log" | grep -E '^\[  FAILED|Failure|error' | head -40 >&2
  tail -n 20 "$work/unit.log" >&2
  fail "unit tests under Wine (log: $work/unit.log)"
fi
grep -q '^\[  SKIPPED \]' "$work/unit.log" && { grep '^\[  SKIPPED \]' "$work/unit.log" >&2; fail "unit tests were skipped under Wine"; }
grep -E '^\[==========\] .* ran\.|^\[  PASSED  \]' "$work/unit.log"
pass "unit tests under Wine"

# --- 4. and 5. the console program on the same batch, beside the window under -----------
# code page 1252, which must show the same text pixels.
start_wine "$work/console" 900 "$work/console.log" "$wine" "$exe_dir/melno2quaz-cli.exe" "${wine_args[@]}"
console_pid=$wine_pid
harness_log="$work/harness-1252.log"
LC_ALL=C.UTF-8 start_wine "$work" 900 "$harness_log" "$wine" "$harness" \
  run shot1252 "$(winpath "$exe_dir/melno2quaz.exe")" end
harness_pid=$wine_pid
mkdir -p "$work/shot1252"
take_screenshot "$harness_log" "$work/root-1252.png" "$work/shot1252" ||
  fail "the window harness under code page 1252 ended before the window was ready for its screenshot"
harness_exit=0
finish_wine "window harness (code page 1252)" "$harness_pid" 900 "$harness_log" || harness_exit=$?
tr -d '\r' <"$harness_log" >"$harness_log.txt"
cat "$harness_log.txt"
[ "$harness_exit" -eq 0 ] || fail "the window harness under code page 1252 (exit $harness_exit; output above)"
run1252="$(section run 1)"
[ "$(value "$run1252" code_page)" = 1252 ] || fail "code page $(value "$run1252" code_page), expected 1252"
check_window "$run1252"
[ "$(value "$run1252" program_exit)" = 0 ] || fail "melno2quaz.exe ended with exit code $(value "$run1252" program_exit) under code page 1252"
read -r cx cy cw ch <<<"$(value "$run1252" client_rect)"
convert "$work/root-1252.png" -crop "${cw}x$ch+$cx+$cy" +repage -strip "$work/client-1252.png"
read -r wx wy ww wh <<<"$(value "$run1252" window_rect)"
convert "$work/root-1252.png" -crop "${ww}x$wh+$wx+$wy" +repage -strip "$root/build-win32/window-cp1252.png"
differing=$(compare -metric AE "$work/client-932.png" "$work/client-1252.png" null: 2>&1 || true)
echo "client areas under code pages 932 and 1252: $differing differing pixels"
[ "$differing" = 0 ] || fail "the window's text is drawn differently under code page 1252 ($differing pixels differ)"
pass "code page 1252: the same title and the same text pixels as under 932"
if [ "${M2Q_UPDATE_SCREENSHOT:-0}" = 1 ]; then
  cp "$root/build-win32/window.png" docs/window.png
  cp "$root/build-win32/window-cp1252.png" docs/window-cp1252.png
fi

console_exit=0
finish_wine "melno2quaz-cli.exe" "$console_pid" 900 "$work/console.log" || console_exit=$?
[ "$console_exit" -eq 1 ] || { tail -n 30 "$work/console.log" >&2; fail "melno2quaz-cli.exe exit code $console_exit, expected 1 (some files failed)"; }
cmp "$work/console/report.txt" "$work/linux/report.txt" || fail "the console program's report differs"
for output in "$work/window"/gamedata_*; do
  cmp "$output" "$work/console/$(basename "$output")" || fail "console output $(basename "$output") differs"
done
grep -aq "4 converted, 4 failed" "$work/console.log" || { tail -n 5 "$work/console.log" >&2; fail "console summary line"; }
grep -aq -- "  -> gamedata_city.dat" "$work/console.log" || { tail -n 30 "$work/console.log" >&2; fail "console line of the output's path"; }
pass "melno2quaz-cli.exe under Wine: same report and outputs, output paths, exit code 1"

# --check on a save it wrote and on a file of the wrong size.
check_exit=0
run_wine "melno2quaz-cli.exe --check" "$work/console" 900 "$work/check.log" \
  "$wine" "$exe_dir/melno2quaz-cli.exe" --check gamedata_city.dat short.psu || check_exit=$?
check_out="$(tr -d '\r' <"$work/check.log" | grep -a -e '^gamedata_city.dat: ' -e '^short.psu: ')"
[ "$check_exit" -eq 1 ] && [ "$check_out" = $'gamedata_city.dat: ok\nshort.psu: wrong size 5233663 (5184406 expected)' ] ||
  { tail -n 20 "$work/check.log" >&2; fail "melno2quaz-cli.exe --check (exit code $check_exit)"; }
pass "melno2quaz-cli.exe --check under Wine: ok and a wrong size, exit code 1"

# --- 6. the release zip -----------------------------------------------------------------
zip="$(scripts/package_windows.sh)"
listing="$(cmake -E tar tf "$zip")"
for entry in melno2quaz/melno2quaz.exe melno2quaz/melno2quaz-cli.exe melno2quaz/README-windows.txt; do
  grep -qx "$entry" <<<"$listing" || fail "$entry missing from $zip"
done
pass "release zip $(basename "$zip"): $(echo $listing)"

note "Windows stage done"
echo "test_wine: $passed passed, 0 failed"
