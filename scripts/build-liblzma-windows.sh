#!/usr/bin/env bash
# Builds a static liblzma for Windows from Debian's xz-utils source package, with Debian's patches
# applied, holding only the raw LZMA1 decoder that the launcher needs.
#   build-liblzma-windows.sh TRIPLE WORKDIR PREFIX [launcher|full]
# TRIPLE is the MinGW-w64 target (i686-w64-mingw32 or x86_64-w64-mingw32). With "full", the same
# source is built with its encoders and match finders, for quillpack.exe. The source is one of the
# revisions accepted in cmake/xz-utils.sha256 (scripts/fetch-xz-source.sh); the one used is
# written to PREFIX/xz-utils-revision.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
triple=$1
work=$2
prefix=$3
mode=${4:-launcher}

if [ "$mode" = full ]; then
  features=(--enable-encoders=lzma1 --enable-decoders=lzma1 --enable-checks=crc32 --disable-threads
            --disable-lzip-decoder --disable-microlzma)
  cflags="-O2"
else
  # The launcher's: -O2 with liblzma's small variant decodes as fast as its full-size build (the
  # unrolled loops gain nothing once the compiler optimises for speed) at a fraction of its size;
  # no unwind tables, since nothing in the launcher unwinds.
  features=(--enable-small --disable-encoders --enable-decoders=lzma1 --disable-match-finders
            --enable-checks=crc32 --disable-threads --disable-lzip-decoder --disable-microlzma)
  cflags="-O2 -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables"
fi

read -r revision source < <("$here/fetch-xz-source.sh")
# The stamp names the revision, the target, the mode and the flags: changing any of them rebuilds.
stamp="$prefix/.built-$(echo "$revision $triple $mode ${features[*]} $cflags" | sha256sum | cut -c1-16)"
if [ -f "$prefix/lib/liblzma.a" ] && [ -f "$stamp" ]; then exit 0; fi
echo "-- liblzma ($mode) for $triple from Debian's xz-utils $revision"

rm -rf "$work"
mkdir -p "$work"
cd "$work"
dpkg-source --no-check -x "$source/xz-utils_$revision.dsc" src >/dev/null
mkdir build
cd build
../src/configure --host="$triple" --prefix="$prefix" \
  --disable-shared --enable-static "${features[@]}" \
  --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
  --disable-scripts --disable-doc --disable-nls \
  CC="$triple-gcc-posix" CFLAGS="$cflags" >configure.log 2>&1 ||
  { tail -n 20 configure.log >&2; exit 1; }
make -j"$(nproc)" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
rm -rf "$prefix"
make install >install.log 2>&1
echo "$revision" >"$prefix/xz-utils-revision"
touch "$stamp"
