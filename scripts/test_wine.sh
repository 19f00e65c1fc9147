#!/usr/bin/env bash
# Windows stage: cross-builds melno2quaz for 32-bit Windows with MinGW-w64,
# checks the .exe files, and tests the Windows build under Wine, headless:
#   1. the unit tests (m2q_tests.exe) on the real Win32 calls, code page 932;
#   2. the real window under Xvfb: a genuine WM_DROPFILES with a batch of
#      real files, compared byte for byte with the Linux front end, and the
#      report opened in Notepad through the verb "edit";
#   3. an empty drop and a drop of a path longer than 259 bytes;
#   4. a screenshot of melno2quaz.exe (build-win32/window.png), the text
#      lines found where they are painted, and exit code 0 on closing.
#
# Wine runs the 32-bit build where the host can execute 32-bit programs.
# Where it cannot (a kernel without IA-32 emulation), the same sources are
# built for 64-bit Windows as well and that build runs under 64-bit Wine;
# the 32-bit release build is then checked by its headers only.
#
# M2Q_UPDATE_SCREENSHOT=1 copies the screenshot to docs/window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

# Whether this host executes 32-bit x86 programs: a 96-byte static ELF32
# program that only calls exit(42) through int 0x80. Where it cannot run,
# 32-bit Wine (wine32:i386 and its hundred i386 libraries) is of no use
# and is not installed.
host_runs_i386() {
  local probe="$root/build-win32/i386-probe"
  mkdir -p "$root/build-win32"
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
wine32=()
host_runs_i386 && wine32=(wine32:i386)

scripts/apt_install.sh cmake ninja-build g++ libgtest-dev googletest locales file \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  wine wine64 "${wine32[@]}" xvfb imagemagick fonts-ipafont-gothic

fail() { echo "test_wine: FAIL: $*" >&2; exit 1; }
passed=0
pass() { passed=$((passed + 1)); echo "test_wine: ok: $*"; }

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
echo "test_wine: cross-building for 32-bit Windows in build-win32/" >&2
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
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine=/usr/lib/wine/wine
  export WINEARCH=win32
  exe_dir="$root/build-win32"
  echo "test_wine: running the 32-bit build under 32-bit Wine" >&2
else
  echo "test_wine: this host cannot execute 32-bit programs (no IA-32 emulation in its kernel);" \
    "running the same sources built for 64-bit Windows under 64-bit Wine" >&2
  cross_build build-win64 mingw-w64-x86_64
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
  exe_dir="$root/build-win64"
fi
harness="$exe_dir/m2q_window_harness.exe"
work="$root/build-win32/wine-test"
rm -rf "$work"
mkdir -p "$work"

export WINEPREFIX="$exe_dir/wineprefix"
export WINEDEBUG=-all
export LC_ALL=ja_JP.UTF-8

# --- a display and a Wine session of our own --------------------------------------
display=77
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$build_log"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start"
export DISPLAY=":$display"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test_wine: making the Wine prefix (first run only)" >&2
fi
"$wine" wineboot -i >/dev/null 2>&1
# Wine draws the window frame itself (there is no window manager), and its
# caption in a font that has the Japanese characters of the title.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d IPAGothic /f >/dev/null 2>&1
"$wine" reg delete 'HKCR\txtfile\shell\edit' /f >/dev/null 2>&1 || true


# --- 1. unit tests --------------------------------------------------------------------
mkdir -p "$work/unit"
if ! (cd "$work/unit" && "$wine" "$exe_dir/tests/m2q_tests.exe") >"$work/unit.log" 2>&1; then
  grep -E '^\[  FAILED|Failure|error' "$work/unit.log" | head -40 >&2
  fail "unit tests under Wine (log: $work/unit.log)"
fi
grep -q '^\[  SKIPPED \]' "$work/unit.log" && { grep '^\[  SKIPPED \]' "$work/unit.log" >&2; fail "unit tests were skipped under Wine"; }
grep -E '^\[==========\] .* ran\.|^\[  PASSED  \]' "$work/unit.log"
pass "unit tests under Wine"

# --- 2. the window: a batch dropped on it, against the Linux front end ---------------
# A default prefix knows no "edit" verb for text files.
mkdir -p "$work/verb"
: >"$work/verb/report.txt"
edit_before="$(cd "$work/verb" && "$wine" "$harness" edit-report | tr -d '\r')"
echo "before registering the verb: $edit_before"
"$wine" reg add 'HKCR\txtfile\shell\edit\command' /ve /d 'notepad.exe "%1"' /f >/dev/null 2>&1

# The same files in two folders: Wine keeps Unix file names in UTF-8, the
# Linux front end in a Shift-JIS locale takes the Shift-JIS bytes as they are.
sjis_name=$'\x95\x5c.psu'    # 表.psu
make_inputs() {  # DIR NAME-OF-THE-SHIFT-JIS-FILE-ON-DISK
  mkdir -p "$1/saves.psu"
  "$make_save" --name-hex "93 8c 8b 9e 93 73" --map 3 --clock 3676029 --funds 1234567 "$1/city.psu" >/dev/null
  "$make_save" --pattern --name "Pattern Town 16!" --map -7 --clock -1 --funds -9223372036854775807 \
    "$1/pattern.save.psu" >/dev/null
  "$make_save" --size 5233663 "$1/short.psu" >/dev/null
  "$make_save" --fill 0x5c --name-hex "83 5c 83 5c" --map 2 --funds 1000 "$1/$2" >/dev/null
  printf 'not a save\r\n' >"$1/notes.txt"
}
drop_list=(city.psu short.psu saves.psu notes.txt "$sjis_name" pattern.save.psu city.psu)
mkdir -p "$work/window" "$work/linux"
make_inputs "$work/window" "$(printf '%s' "$sjis_name" | iconv -f CP932 -t UTF-8)"
make_inputs "$work/linux" "$sjis_name"
printf '%s\r\n' "${drop_list[@]}" >"$work/drop.lst"

(cd "$work/linux" && LOCPATH="$locales" LC_ALL=ja_JP.SJIS "$linux_cli" "${drop_list[@]}") \
  >"$work/linux.log" 2>&1 || true
[ -s "$work/linux/report.txt" ] || fail "the Linux front end wrote no report"

drop_result="$(cd "$work/window" && "$wine" "$harness" drop ../drop.lst | tr -d '\r')" ||
  { echo "$drop_result" >&2; fail "the drop on the window"; }
echo "$drop_result"
grep -qx 'drop_handled=1' <<<"$drop_result" || fail "WM_DROPFILES was not handled"
grep -qx 'editor=1' <<<"$drop_result" || fail "report.txt was not opened with the verb edit"
grep -qx 'loop_exit=0' <<<"$drop_result" || fail "the message loop did not end with 0"

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
[ -f "$work/window/$(printf 'gamedata_\x95\x5c.dat' | iconv -f CP932 -t UTF-8)" ] ||
  fail "gamedata_表.dat is not beside 表.psu"
echo "report.txt: $(wc -c <"$work/window/report.txt") bytes, $outputs Quaz saves, identical on Linux and under Wine"
pass "window batch identical to the Linux batch, report opened with the verb edit"

# The console program on the same batch.
mkdir -p "$work/console"
make_inputs "$work/console" "$(printf '%s' "$sjis_name" | iconv -f CP932 -t UTF-8)"
# Wine reads Unix arguments in the Unix locale's encoding (UTF-8 here) and
# hands them to the program in the ANSI code page.
console_args=()
for name in "${drop_list[@]}"; do
  if [ "$name" = "$sjis_name" ]; then name="$(printf '%s' "$name" | iconv -f CP932 -t UTF-8)"; fi
  console_args+=("$name")
done
console_exit=0
(cd "$work/console" && "$wine" "$exe_dir/melno2quaz-cli.exe" "${console_args[@]}") >"$work/console.log" 2>&1 ||
  console_exit=$?
[ "$console_exit" -eq 1 ] || fail "melno2quaz-cli.exe exit code $console_exit, expected 1 (some files failed)"
cmp "$work/console/report.txt" "$work/linux/report.txt" || fail "the console program's report differs"
for output in "$work/window"/gamedata_*; do
  cmp "$output" "$work/console/$(basename "$output")" || fail "console output $(basename "$output") differs"
done
grep -aq "4 converted, 3 failed" "$work/console.log" || fail "console summary line"
grep -aq -- "  -> gamedata_city.dat" "$work/console.log" || fail "console line of the output's path"
check_exit=0
check_out="$(cd "$work/console" && "$wine" "$exe_dir/melno2quaz-cli.exe" --check gamedata_city.dat short.psu)" ||
  check_exit=$?
[ "$check_exit" -eq 1 ] && [ "$(tr -d '\r' <<<"$check_out")" = $'gamedata_city.dat: ok\nshort.psu: wrong size 5233663 (5184406 expected)' ] ||
  { echo "$check_out" >&2; fail "melno2quaz-cli.exe --check (exit code $check_exit)"; }
pass "melno2quaz-cli.exe under Wine: same report and outputs, exit code 1, output paths, --check"

# --- 3. an empty drop, and a path longer than 259 bytes ---------------------------------
mkdir -p "$work/empty"
: >"$work/empty.lst"
result="$(cd "$work/empty" && "$wine" "$harness" drop ../empty.lst | tr -d '\r')" || { echo "$result" >&2; fail "the empty drop"; }
echo "$result"
grep -qx 'editor=1' <<<"$result" || fail "the report was not opened after an empty drop"
if grep -qx 'drop_count=0' <<<"$result"; then
  [ -f "$work/empty/report.txt" ] && [ ! -s "$work/empty/report.txt" ] || fail "an empty drop must leave an empty report.txt"
  pass "empty drop: empty report.txt, opened all the same"
else
  # Wine's DragQueryFileA counts a drop without files as one file with an
  # empty name; the window converts what the drop reports.
  grep -qx 'drop_count=1' <<<"$result" || fail "unexpected count for an empty drop"
  {
    printf '0001/0001\r\n  '
    printf '変換元:' | iconv -f UTF-8 -t CP932
    printf '\r\n  '
    printf 'Melnoのデータではありません。\n' | iconv -f UTF-8 -t CP932
    printf '  (Err:2)\r\n\r\n'
  } >"$work/empty-expected.txt"
  cmp "$work/empty/report.txt" "$work/empty-expected.txt" || fail "report of the empty drop"
  echo "test_wine: note: Wine's DragQueryFileA reports an empty drop as one file with an empty name" >&2
  pass "empty drop: the report holds what DragQueryFileA reported and was opened all the same"
fi

mkdir -p "$work/long"
long_path="$(printf 'd%.0s' $(seq 290))/city.psu"
printf '%s\r\n' "$long_path" >"$work/long.lst"
result="$(cd "$work/long" && "$wine" "$harness" drop ../long.lst | tr -d '\r')" || { echo "$result" >&2; fail "the long drop"; }
{
  printf '0001/0001\r\n  '
  printf '変換元:' | iconv -f UTF-8 -t CP932
  printf '%s\r\n  ' "${long_path:0:259}"
  printf 'Melnoのデータではありません。\n' | iconv -f UTF-8 -t CP932
  printf '  (Err:2)\r\n\r\n'
} >"$work/long-expected.txt"
cmp "$work/long/report.txt" "$work/long-expected.txt" || fail "a path over 259 bytes must arrive cut to 259"
pass "a dropped path over 259 bytes is reported cut to 259 bytes with code 2"

# --- 4. the program itself: screenshot, text bands, exit code ---------------------------
mkdir -p "$work/shot"
(cd "$work/shot" && "$wine" "$exe_dir/melno2quaz.exe") &
program_pid=$!
geometry="$(cd "$work/shot" && "$wine" "$harness" locate | tr -d '\r')" || { echo "$geometry" >&2; fail "no window"; }
import -window root "$work/root.png"
"$wine" "$harness" close >/dev/null
program_exit=0
wait "$program_pid" || program_exit=$?
echo "$geometry"
[ "$program_exit" -eq 0 ] || fail "melno2quaz.exe ended with exit code $program_exit"
pass "closing the window ends melno2quaz.exe with exit code 0"

value() { sed -n "s/^$1=//p" <<<"$geometry"; }
expected_title="$(printf 'Melno→Quazデータ変換' | iconv -f UTF-8 -t CP932 | od -An -tx1 | tr -d ' \n')"
[ "$(value title_hex)" = "$expected_title" ] || fail "window title $(value title_hex), expected $expected_title"
[ "$(value class_style)" = "0x3" ] || fail "class style $(value class_style), expected CS_HREDRAW|CS_VREDRAW"
[ "$(value window_style)" = "0xcf0000" ] || fail "window style $(value window_style), expected WS_OVERLAPPEDWINDOW"
[ "$(value accepts_files)" = "1" ] || fail "the window is no drop target"
read -r wx wy ww wh <<<"$(value window_rect)"
[ "$ww" -eq 480 ] && [ "$wh" -eq 224 ] || fail "window is ${ww}x$wh, expected 480x224"
pass "title, class, style, size and drop target of the window"

# Dark pixels, and pixels that are not pure white, in a rectangle of the
# screenshot.
dark() {  # W H X Y
  convert "$work/root.png" -crop "$1x$2+$3+$4" +repage -colorspace Gray -threshold 50% -negate \
    -format '%[fx:round(mean*w*h)]' info:
}
not_white() {  # W H X Y
  convert "$work/root.png" -crop "$1x$2+$3+$4" +repage -alpha off -fill black +opaque white \
    -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:
}
read -r cx cy cw ch <<<"$(value client_rect)"
read -r l1x l1y <<<"$(value line1_at)"
read -r l2x l2y <<<"$(value line2_at)"
read -r e1w e1h <<<"$(value line1_extent)"
read -r e2w e2h <<<"$(value line2_extent)"
client_dark=$(dark "$cw" "$ch" "$cx" "$cy")
band1_dark=$(dark "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y)))
band2_dark=$(dark "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))
tail1_dark=$(dark $((e1w / 10)) "$e1h" $((cx + l1x + e1w - e1w / 10)) $((cy + l1y)))
tail2_dark=$(dark $((e2w / 10)) "$e2h" $((cx + l2x + e2w - e2w / 10)) $((cy + l2y)))
outside_dark=$((client_dark - band1_dark - band2_dark))
outside_not_white=$(($(not_white "$cw" "$ch" "$cx" "$cy") - $(not_white "$e1w" "$e1h" $((cx + l1x)) $((cy + l1y))) \
  - $(not_white "$e2w" "$e2h" $((cx + l2x)) $((cy + l2y)))))
echo "screenshot: client ${cw}x$ch at ($cx,$cy); line 1 band ${e1w}x$e1h at ($l1x,$l1y): $band1_dark dark pixels" \
  "(last tenth: $tail1_dark); line 2 band ${e2w}x$e2h at ($l2x,$l2y): $band2_dark (last tenth: $tail2_dark);" \
  "elsewhere in the client area: $outside_dark dark, $outside_not_white not white"
[ "$band1_dark" -gt 500 ] && [ "$band2_dark" -gt 500 ] || fail "a text line is missing from the screenshot"
[ "$tail1_dark" -gt 20 ] && [ "$tail2_dark" -gt 20 ] || fail "a text line is not drawn in full"
[ "$outside_dark" -eq 0 ] || fail "$outside_dark dark pixels outside the two text lines"
[ "$outside_not_white" -eq 0 ] || fail "the client area is not white outside the two text lines"
convert "$work/root.png" -crop "${ww}x$wh+$wx+$wy" +repage -strip "$root/build-win32/window.png"
if [ "${M2Q_UPDATE_SCREENSHOT:-0}" = 1 ]; then
  mkdir -p docs
  cp "$root/build-win32/window.png" docs/window.png
fi
pass "screenshot: both lines painted where they belong, white everywhere else in the client area"

# --- 5. the release zip -----------------------------------------------------------------
zip="$(scripts/package_windows.sh)"
listing="$(cmake -E tar tf "$zip")"
for entry in melno2quaz/melno2quaz.exe melno2quaz/melno2quaz-cli.exe melno2quaz/README-windows.txt; do
  grep -qx "$entry" <<<"$listing" || fail "$entry missing from $zip"
done
pass "release zip $(basename "$zip"): $(echo $listing)"

echo "test_wine: $passed passed, 0 failed"
