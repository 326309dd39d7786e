#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and nothing when all of it is present.
# Safe to run again: every step first checks whether its work is already done.
#   install-deps.sh [bench]    (bench: also what `make bench` needs: NSIS, numpy, matplotlib)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-tidy cppcheck
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  googletest liblzma-dev xz-utils dpkg-dev
  wine wine32:i386 xvfb xauth x11-utils xdotool imagemagick fonts-wqy-zenhei locales
  python3 python3-pytest osslsigncode openssl
)
if [ "${1:-}" = bench ]; then packages+=(nsis python3-numpy python3-matplotlib); fi

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  need_update=1
fi

# deb-src entries, so that liblzma for Windows can be built from Debian's own xz-utils source.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    as_root sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | as_root tee /etc/apt/sources.list.d/quill-src.list >/dev/null
  fi
  need_update=1
fi
if ! ls /var/lib/apt/lists/*_Sources* >/dev/null 2>&1; then need_update=1; fi

if ((${#missing[@]})) || ((need_update)); then
  as_root apt-get update -q
fi
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The Chinese texts need a GBK code page under Wine: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  as_root sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
