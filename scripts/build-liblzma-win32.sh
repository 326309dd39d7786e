#!/usr/bin/env bash
# Builds a static liblzma for 32-bit Windows from Debian's xz-utils source package, with Debian's
# patches applied, holding only the raw LZMA1 decoder that the launcher needs.
#   build-liblzma-win32.sh WORKDIR PREFIX [full]
# With "full", the same source is built with its encoders and match finders, for quillpack.exe.
# The source version is pinned; its files must match the SHA-256 sums kept in cmake/xz-utils.sha256.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
prefix=$2
mode=${3:-launcher}
version=5.4.1-1+deb12u2
sums="$here/../cmake/xz-utils.sha256"

stamp="$prefix/.built-$version"
[ "$mode" = full ] && stamp="$stamp-full"
if [ -f "$prefix/lib/liblzma.a" ] && [ -f "$stamp" ]; then exit 0; fi

mkdir -p "$work"
cd "$work"
if ! sha256sum --quiet -c "$sums" >/dev/null 2>&1; then
  rm -f xz-utils_*
  # apt drops privileges for downloads where it can; a private folder may refuse it, which is harmless.
  apt-get source --download-only "xz-utils=$version" >/dev/null 2>apt-source.log || {
    cat apt-source.log >&2
    echo "build-liblzma-win32: could not fetch xz-utils $version source (is a deb-src entry present?)" >&2
    exit 1
  }
  sha256sum --quiet -c "$sums" || { echo "build-liblzma-win32: checksum mismatch" >&2; exit 1; }
fi

rm -rf src build
dpkg-source --no-check -x "xz-utils_$version.dsc" src >/dev/null
mkdir build
cd build
if [ "$mode" = full ]; then
  features=(--enable-encoders=lzma1 --enable-decoders=lzma1 --enable-checks=crc32 --disable-threads
            --disable-lzip-decoder --disable-microlzma)
  cflags="-O2"
else
  features=(--enable-small --disable-encoders --enable-decoders=lzma1 --disable-match-finders
            --enable-checks=crc32 --disable-threads --disable-lzip-decoder --disable-microlzma)
  cflags="-Os -ffunction-sections -fdata-sections"
fi
../src/configure --host=i686-w64-mingw32 --prefix="$prefix" \
  --disable-shared --enable-static "${features[@]}" \
  --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
  --disable-scripts --disable-doc --disable-nls \
  CC=i686-w64-mingw32-gcc-posix CFLAGS="$cflags" >configure.log 2>&1 ||
  { tail -n 20 configure.log >&2; exit 1; }
make -j"$(nproc)" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
make install >install.log 2>&1
touch "$stamp"
