#!/usr/bin/env bash
# Builds a static liblzma from Debian's xz-utils source package, with Debian's patches applied.
#   build-liblzma.sh CC TRIPLE WORKDIR PREFIX [launcher|full|small]
# CC is the C compiler; TRIPLE the MinGW-w64 target (i686-w64-mingw32, x86_64-w64-mingw32) or
# "native" for the build machine. "launcher" holds only the raw LZMA1 decoder, built for speed;
# "full" adds the LZMA1 encoder and its match finders, for quillpack, the host tests and the
# fuzzers. "small" is the launcher's decoder in liblzma's small variant, which the launcher used
# before, for the benchmark's comparison. The source is the revision scripts/fetch-xz-source.sh provides (cmake/xz-utils.sha256);
# the one used is written to PREFIX/xz-utils-revision.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cc=$1
triple=$2
work=$3
prefix=$4
mode=${5:-launcher}

common=(--disable-threads --disable-lzip-decoder --disable-microlzma --enable-checks=crc32)
if [ "$mode" = full ]; then
  features=(--enable-encoders=lzma1 --enable-decoders=lzma1 "${common[@]}")
  cflags="-O2"
elif [ "$mode" = small ]; then
  features=(--enable-small --disable-encoders --enable-decoders=lzma1 --disable-match-finders "${common[@]}")
  cflags="-O2 -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables"
else
  # The decoder is where an installer's time goes: liblzma's fast decoder, not its small variant,
  # and on x86-64 its inline-assembly range decoder (the default there). No unwind tables, since
  # nothing in the launcher unwinds.
  features=(--disable-encoders --enable-decoders=lzma1 --disable-match-finders "${common[@]}")
  cflags="-O2 -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables"
fi
host=()
[ "$triple" = native ] || host=(--host="$triple")

read -r revision source < <("$here/fetch-xz-source.sh")
# The stamp names the revision, the compiler, the target, the mode and the flags: changing any of
# them rebuilds.
stamp="$prefix/.built-$(echo "$revision $cc $triple $mode ${features[*]} $cflags" | sha256sum | cut -c1-16)"
if [ -f "$prefix/lib/liblzma.a" ] && [ -f "$stamp" ]; then exit 0; fi
echo "-- liblzma ($mode) for $triple from Debian's xz-utils $revision"

rm -rf "$work"
mkdir -p "$work"
cd "$work"
dpkg-source --no-check -x "$source/xz-utils_$revision.dsc" src >/dev/null
mkdir build
cd build
../src/configure "${host[@]}" --prefix="$prefix" \
  --disable-shared --enable-static "${features[@]}" \
  --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
  --disable-scripts --disable-doc --disable-nls \
  CC="$cc" CFLAGS="$cflags" >configure.log 2>&1 ||
  { tail -n 20 configure.log >&2; exit 1; }
make -j"$(nproc)" >make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
rm -rf "$prefix"
make install >install.log 2>&1
echo "$revision" >"$prefix/xz-utils-revision"
touch "$stamp"
