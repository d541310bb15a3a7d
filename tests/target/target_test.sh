# The target programs (host: none): linking, code, self-judgement, size.
# shellcheck shell=sh source-path=SCRIPTDIR disable=SC2016
. "${0%/*}/../support/lib.sh"
set -e
exec </dev/null
target=${VESK_TARGET_BUILD:-}
[ "$target" ] || { finish; exit; }
static=$(grep VESK_STATIC:BOOL=ON "$target/CMakeCache.txt" || :)
cd "$TEST_TMP" && cp "$target/vesk-io" "$target/vesk-index" .
mkdir lib && touch lib/libc.so judged
if [ -z "$static" ]; then printf ': /lib/ld-musl-i386.so.1]\nlibrary: [libc.so]\n'
else echo 'vesk-io: invalid dynamic executable/interpreter' >judged
fi >linked
later='	([a-z0-9]+ )*(f?cmov|fu?comi|nop([wl]| +[^ ])|endbr|sys(enter|call)|fx(save|rstor)|'
later=$later'prefetch|[lsm]fence|(ld|st)mxcsr|clflush|movnt|maskmov|(pop|lz)cnt|movbe|crc32|fisttp)'
scan() { objdump -dw --no-show-raw-insn "$1" | grep -E "$later|%[xyz]mm"; } # past Pentium MMX
expect 'scan self-test' 'echo cmovb %eax,%ecx | as --32 && scan a.out >/dev/null'
for name in vesk-io vesk-index; do
  expect "$name: libraries, no C++ or heap" 'readelf -lWd "$name" |
    grep -oE ": /lib/ld-musl.*|library: .*|R(UN)?PATH|TEXTREL"
    ! (nm -D "$name"; nm "$name") 2>&1 |
    grep -E "_Zn[wa]|__cxa_guard|_personality|_ZSt|GLIBCXX| [Uw] (m|c|re)alloc\b"' <linked
  expect "$name: Pentium MMX" '! scan "$name"'
  expect "$name: judged" '$IO elf "$name"; $IO elf2 "$name" .' <judged
  [ "$static" ] && expect "$name: under 64 KiB" 'strip "$name" && [ "$(wc -c <"$name")" -lt 65536 ]'
done
finish
