# Which Windows architectures this machine can run under Wine; sourced by the scripts that
# install, test, demonstrate and measure. Both are always built; x64 always runs (wine64).
#   quill_detect_archs   sets QUILL_RUN_ARCHS ("x86 x64" or "x64") and, when x86 cannot run,
#                        QUILL_SKIP_REASON (why)
# Whether 32-bit code runs is found by running some: a 96-byte static i386 Linux program that
# exits with 42. uname says nothing about it (an x86_64 kernel may refuse i386 programs).
quill_detect_archs() {
  QUILL_RUN_ARCHS=x64
  QUILL_SKIP_REASON=
  local probe out rc
  probe=$(mktemp "${TMPDIR:-/tmp}/quill-i386-probe.XXXXXX")
  # ELF header, one PT_LOAD program header, then: mov eax,1; mov ebx,42; int 0x80 (exit(42)).
  local elf=7f454c46010101000000000000000000020003000100000054800408340000000000000000000000
  elf+=340020000100280000000000
  elf+=0100000000000000008004080080040860000000600000000500000000100000
  elf+=b801000000bb2a000000cd80
  printf "$(sed 's/../\\x&/g' <<<"$elf")" >"$probe"
  chmod 700 "$probe"
  out=$("$probe" 2>&1) && rc=0 || rc=$?
  rm -f "$probe"
  if [ "$rc" -eq 42 ] && grep -qs 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/*; then
    # Ran, but through user-mode emulation, under which Wine's 32-bit loader does not work.
    QUILL_SKIP_REASON="32-bit code runs here only through qemu-i386 emulation, which Wine cannot use"
  elif [ "$rc" -eq 42 ]; then
    QUILL_RUN_ARCHS="x86 x64"
  else
    QUILL_SKIP_REASON="the kernel cannot execute 32-bit code (${out##*: }${out:+, }exit $rc)"
  fi
}

# The build directory of an architecture.
quill_build_dir() { if [ "$1" = x86 ]; then echo build/win32; else echo build/win64; fi; }
