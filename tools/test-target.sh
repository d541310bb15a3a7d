#!/bin/sh
# Builds the target programs (i586 musl, dynamic and static), checks each
# build, and runs the host-built test suite against each pair under qemu-i386
# -cpu pentium, a CPU without cmov or SSE. Needs the default preset built
# (tools/test.sh does that) and, as root, sets up the i386 musl sysroot
# (tools/target-sysroot.sh).
#
#   build/i586-musl/vesk-io         build/i586-musl/vesk-index
#   build/i586-musl-static/vesk-io  build/i586-musl-static/vesk-index
#
# The checks of a build, each program in turn: the loader and the libraries
# it names (dynamic: ld-musl and libc.so alone; static: none), no search path
# or text relocation, no C++ runtime or heap; no instruction past the Pentium
# MMX in the whole disassembly; the host vesk-io's ELF rules accept it under
# both formats (a static program: format 2 only); a static program stripped
# is under 64 KiB.
set -eu
cd "$(dirname "$0")/.."

past_mmx='	([a-z0-9]+ )*(f?cmov|fu?comi|nop([wl]| +[^ ])|endbr|sys(enter|call)|fx(save|rstor)|'
past_mmx=$past_mmx'prefetch|[lsm]fence|(ld|st)mxcsr|clflush|movnt|maskmov|(pop|lz)cnt|movbe|'
past_mmx=$past_mmx'crc32|fisttp)|%[xyz]mm'
scan() { objdump -dw --no-show-raw-insn "$1" | grep -E "$past_mmx"; }

check_build() { # BUILD; prints each broken rule, fails if any
  static=$(grep -c VESK_STATIC:BOOL=ON "$1/CMakeCache.txt" || :)
  linked=': /lib/ld-musl-i386.so.1] library: [libc.so]' judged=''
  if [ "$static" = 1 ]; then linked='' judged='vesk-io: invalid dynamic executable/interpreter'; fi
  broken=0
  for program in "$1/vesk-io" "$1/vesk-index"; do
    got=$(readelf -lWd "$program" | grep -oE ": /lib/ld-musl.*|library: .*|R(UN)?PATH|TEXTREL" |
      tr '\n' ' ' | sed 's/ $//')
    [ "$got" = "$linked" ] || { echo "$program links: $got" && broken=1; }
    ! (nm -D "$program"; nm "$program") 2>&1 |
      grep -E "_Zn[wa]|__cxa_guard|_personality|_ZSt|GLIBCXX| [Uw] (m|c|re)alloc\b" ||
      broken=1
    ! scan "$program" || broken=1
    got=$(build/default/vesk-io elf "$program" 2>&1) || :
    [ "$got" = "$judged" ] || { echo "vesk-io elf $program: $got" && broken=1; }
    got=$(build/default/vesk-io elf2 "$program" "$root" 2>&1) || :
    [ -z "$got" ] || { echo "vesk-io elf2 $program: $got" && broken=1; }
    [ "$static" != 1 ] || { strip -o "$root/stripped" "$program" &&
      [ "$(wc -c <"$root/stripped")" -lt 65536 ]; } ||
      { echo "$program: 64 KiB or more, stripped" && broken=1; }
  done
  return $broken
}

# A root for "elf2" that holds the one library the programs may name.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir "$root/lib" && touch "$root/lib/libc.so"
echo 'cmovb %eax,%ecx' | as --32 -o "$root/cmov.o"
scan "$root/cmov.o" >/dev/null || { echo "the instruction scan misses cmov" >&2; exit 1; }

sh tools/target-sysroot.sh >/dev/null
failed=""
for preset in i586-musl i586-musl-static; do
  echo "== target build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  check_build "build/$preset" || failed="$failed $preset"
done

# Both suites run even when a check or the first suite fails.
for preset in i586-musl-test i586-musl-static-test; do
  echo "== the suite against the target programs: $preset"
  ctest --preset "$preset" || failed="$failed $preset"
done
if [ -n "$failed" ]; then
  echo "== failed:$failed" >&2
  exit 1
fi
