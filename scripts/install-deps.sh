#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when all of it is present.
# Safe to run again: every step first checks whether its work is already done.
#   install-deps.sh [bench]    (bench: also what `make bench` needs: NSIS, numpy, matplotlib)
# The i386 architecture and 32-bit Wine are installed only where this machine can run 32-bit code
# (scripts/arch.sh finds out by running some). A package mirror caught mid-sync is retried, and a
# failed index does not stop the installation while what is needed still resolves. Debian's
# xz-utils source comes through an apt configuration of its own (scripts/fetch-xz-source.sh): the
# system's package sources are left as they are.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/arch.sh"
quill_detect_archs

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-tidy cppcheck
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev
  googletest xz-utils dpkg-dev debian-archive-keyring
  wine wine64 xvfb xauth x11-utils xdotool imagemagick fonts-wqy-zenhei locales
  python3 python3-pytest osslsigncode openssl
)
i386=0
case " $QUILL_RUN_ARCHS " in *" x86 "*) i386=1; packages+=(wine32:i386) ;; esac
if [ "${1:-}" = bench ]; then packages+=(python3-numpy python3-matplotlib); ((i386)) && packages+=(nsis); fi

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_update=0
if ((i386)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

# apt-get update fails as a whole when one index is caught mid-sync ("Mirror sync in progress?")
# and then keeps none of that suite's lists. Three tries, a pause between them; after that the
# lists it did get are used, and the install below says whether they were enough.
update() {
  local try
  for try in 1 2 3; do
    if as_root apt-get update -q; then return 0; fi
    echo "install-deps: apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep $((try * 20))
  done
  echo "install-deps: going on with the package lists apt has" >&2
}

install() { as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"; }

if ((${#missing[@]})) || ((need_update)); then update; fi
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  # A second try after refreshing the lists; a third pinned to the release itself, which resolves
  # a multiarch skew (amd64 libraries already at security versions whose i386 twins apt no longer
  # lists, so wine32:i386 is "not installable").
  if ! install "${missing[@]}"; then
    update
    if ! install "${missing[@]}" && ! install -t bookworm "${missing[@]}"; then
      echo "install-deps: could not install: ${missing[*]}" >&2
      echo "install-deps: the package mirror may be mid-sync; run make again in a few minutes" >&2
      exit 1
    fi
  fi
fi

# The Chinese texts need a GBK code page under Wine: zh_CN.UTF-8 gives code page 936. The
# launcher's English face is tested under en_US.UTF-8.
for wanted in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qix "$wanted.utf8"; then
    as_root sed -i "s/^# *$wanted.UTF-8 UTF-8/$wanted.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi
done
