# How the programs are linked; on a target build, instructions, self-judgement and static size.
# shellcheck shell=sh source-path=SCRIPTDIR disable=SC2016
. "${0%/*}/../support/lib.sh"
set -e
target=${VESK_TARGET_BUILD:-} build=${VESK_TARGET_BUILD:-$VESK_BINARY_DIR}
static=$(grep -c VESK_STATIC:BOOL=ON "$build/CMakeCache.txt" || :)
cd "$TEST_TMP" && mkdir lib && : >lib/libc.so && : >judged
if [ -z "$target" ]; then echo 'library: [libc.so.6]'
elif [ "$static" = 0 ]; then printf 'interpreter: /lib/ld-musl-i386.so.1]\nlibrary: [libc.so]\n'
fi >linked
[ "$static" = 0 ] || echo 'vesk-io: invalid dynamic executable/interpreter' >judged
# Mnemonics (after prefixes) beyond a Pentium MMX that a compiler or libc could bring.
later='	([a-z0-9]+ )*(cmov|fcmov|fu?comi|nop[wl]|nop +[^ ]|endbr|sysenter|syscall|fxsave|'
later=$later'fxrstor|prefetch|[lsm]fence|(ld|st)mxcsr|clflush|movnt|maskmov|popcnt|lzcnt|movbe|'
later=$later'crc32|fisttp)'
scan() { objdump -dw --no-show-raw-insn "$1" | grep -E "$later|%[xyz]mm"; }

[ -z "$target" ] || expect 'the scan finds P6 code' 'echo "int less(double a, double b) {
  return a < b; }" | gcc -m32 -O2 -march=i686 -xc -c - -o p6.o && scan p6.o >/dev/null' </dev/null
for program in "$build/vesk-io" "$build/vesk-index"; do
  ! nm "$program" | grep -qE '__asan_init|__gcov_' || continue # instrumented: runtimes of its own
  expect "${program##*/}: loader, libraries, no C++ runtime, no heap" 'readelf -lWd "$program" |
    grep -oE "interpreter: /lib/ld-musl.*|library: .*|R(UN)?PATH|TEXTREL"
    ! (nm -D "$program"; nm "$program") 2>&1 |
    grep -E "_Zn[wa]|__cxa_guard|_personality|_ZSt|GLIBCXX| [Uw] (malloc|calloc|realloc)\b"' <linked
  [ -n "$target" ] || continue
  expect "${program##*/}: Pentium MMX code" '! scan "$program"' </dev/null
  expect "${program##*/}: judged" '$IO elf "$program"; $IO elf2 "$program" .' <judged
  [ "$static" = 0 ] || expect "${program##*/}: stripped under 64 KiB" \
    'strip -o s "$program" && [ "$(wc -c <s)" -lt 65536 ]' </dev/null
done
finish
