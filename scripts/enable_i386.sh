#!/usr/bin/env bash
# Makes sure this host executes 32-bit x86 Linux programs (Wine's 32-bit
# loader among them) and prints how: "native" or "emulated".
#
# Where the kernel cannot run them, it installs qemu-user from the
# backports suite of the machine's own Debian release (qemu 10; the
# release's own qemu faults inside Wine) and registers /usr/bin/qemu-i386
# for i386 ELF programs with binfmt_misc, with the F flag (the emulator is
# opened once, at registration, so it serves chroots and containers too).
# Needs root. Running it again changes nothing.
#
#   --force   registers the emulator even where the host runs 32-bit x86
#             natively: with the F flag the entry takes precedence, so every
#             32-bit program of the machine is then emulated. Remove it with
#             echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry="$binfmt/qemu-i386"
emulator=/usr/bin/qemu-i386
force=0
[ "${1:-}" = --force ] && force=1

die() { echo "enable_i386: $*" >&2; exit 1; }

# A 96-byte static ELF32 program that only calls exit(42) through int 0x80.
runs_i386() {
  local probe status=0
  probe="$(mktemp)"
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00'\
'\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# binfmt_misc must be mounted to see an entry made earlier (a chroot, say,
# may not have it).
if [ "$(id -u)" -eq 0 ] && [ ! -e "$binfmt/register" ]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
fi
registered() { [ -e "$entry" ] && grep -qx enabled "$entry" && grep -qx "interpreter $emulator" "$entry"; }

if [ "$force" = 0 ] && runs_i386; then
  if registered; then echo emulated; else echo native; fi
  exit 0
fi

[ "$(id -u)" -eq 0 ] || die "this host cannot run 32-bit x86 programs, and only root can register an emulator for them"

# qemu-user from <release>-backports, the suite added beside the main
# Debian archive's entry of this machine's sources.
version="$(dpkg-query -W -f='${Status} ${Version}' qemu-user 2>/dev/null || true)"
if [[ "$version" != "install ok installed "* ]] ||
   ! dpkg --compare-versions "${version##* }" ge 1:10; then
  . /etc/os-release
  suite="$VERSION_CODENAME-backports"
  if ! grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
      # The deb822 stanza whose URIs end in /debian, with its suite replaced.
      awk -v suite="$suite" 'BEGIN { RS = ""; ORS = "\n\n" }
        /(^|\n)URIs:[^\n]*\/debian\/?(\n|$)/ && !done {
          gsub(/Suites:[^\n]*/, "Suites: " suite); print; done = 1 }' \
        /etc/apt/sources.list.d/*.sources >"/etc/apt/sources.list.d/$suite.sources"
      [ -s "/etc/apt/sources.list.d/$suite.sources" ] || rm -f "/etc/apt/sources.list.d/$suite.sources"
    fi
    if [ ! -e "/etc/apt/sources.list.d/$suite.sources" ] && [ -f /etc/apt/sources.list ]; then
      awk -v release="$VERSION_CODENAME" -v suite="$suite" \
        '$1 == "deb" && $0 ~ "/debian/? " release " " && !done { sub(" " release " ", " " suite " "); print; done = 1 }' \
        /etc/apt/sources.list >"/etc/apt/sources.list.d/$suite.list"
      [ -s "/etc/apt/sources.list.d/$suite.list" ] || rm -f "/etc/apt/sources.list.d/$suite.list"
    fi
    grep -rqs "$suite" /etc/apt/sources.list.d/ || die "found no entry of the Debian archive to add $suite to"
  fi
  echo "enable_i386: installing qemu-user from $suite" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t "$suite" qemu-user >/dev/null
fi
[ -x "$emulator" ] || die "$emulator is missing after installing qemu-user"

[ -e "$binfmt/register" ] || die "binfmt_misc is not mounted at $binfmt and could not be mounted"
if ! registered; then
  [ -e "$entry" ] && echo -1 >"$entry"  # an entry for another emulator
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emulator"':F' \
    >"$binfmt/register"
fi
runs_i386 || die "32-bit x86 programs do not run even through $emulator registered with binfmt_misc"
echo emulated
