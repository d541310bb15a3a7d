#!/bin/sh
# Coverage-guided fuzzing of every parser with AFL++: the real programs,
# built by the "fuzz" preset with afl-clang-fast, AddressSanitizer and
# UndefinedBehaviorSanitizer (plus a "fuzz-cmplog" build for AFL's
# comparison logging), each run forked from AFL's fork server. A
# failing input ends with "vesk-io: ..." and exit status 1, which the fuzzer
# takes as a normal run; a crash, a sanitizer report or a hang is a finding.
# The seeds are the tools' own output, in the walkthrough's scratch world
# (tools/scratch.sh): a package packed by vesk-pack (archive and manifest), a
# repository published by vesk-publish with throwaway keys, the owned list
# that vesk leaves after installing it, and the dynamic i586 build of
# vesk-index (with the sysroot's libc.so in the root of "elf2").
#
#   sh tools/fuzz.sh [--seconds N] [TARGET...]
#
# Targets (default: all, one after the other, N seconds each, default 60):
#   manifest    vesk-io manifest FILE
#   owned       vesk-io owned FILE
#   unpack      vesk-io unpack < ARCHIVE, in a fresh stage directory per run
#   elf         vesk-io elf FILE
#   elf2        vesk-io elf2 FILE ROOT (ROOT holds lib/ and usr/lib/)
#   delegation  vesk-index delegation NOW FILE (the metadata reader too)
#   index       vesk-index index NOW REPO ABI SHA DELEGATION FILE, with a
#               fixed valid delegation
#
# Results go to build/fuzz/runs/TARGET (AFL's output directory "out", the
# scratch directory the target ran in). Findings are copied to
# build/fuzz/findings/TARGET; the script then exits with status 1.
set -eu
cd "$(dirname "$0")/.."

# The whole script is read before it runs, so editing it during a long run
# does not change that run.
main() {

seconds=60
targets=""
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    -*) echo "usage: sh tools/fuzz.sh [--seconds N] [TARGET...]" >&2; exit 2 ;;
    *) targets="$targets $1"; shift ;;
  esac
done
all="manifest owned unpack elf elf2 delegation index"
[ -n "$targets" ] || targets=$all

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
# A second build logs the operands of comparisons, so the fuzzer can copy
# them into inputs: tar checksums, magic strings, fixed keywords.
cmake --preset fuzz-cmplog >/dev/null
cmake --build --preset fuzz-cmplog >/dev/null
top=$(pwd)
io=$top/build/fuzz/vesk-io
index=$top/build/fuzz/vesk-index
unpack=$top/build/fuzz/vesk-io-unpack-fuzz

fixtures=$(mktemp -d /tmp/vesk-fuzz.XXXXXX)
trap 'rm -rf "$fixtures"' EXIT
make_seeds() {
  f=$fixtures t=$fixtures/tree
  . tools/scratch.sh
  scratch_init "$f"
  mkdir -p "$t/data/usr/local/share/doc" "$f/elfroot/lib"
  echo 'format=1' >"$t/meta" && echo 'a small package' >"$t/data/usr/local/share/doc/README"
  sh tools/target-sysroot.sh >/dev/null
  cmake --preset i586-musl >/dev/null && cmake --build --preset i586-musl >/dev/null
  strip -o "$f/vesk-index" build/i586-musl/vesk-index && cp build/sysroot-i386/lib/libc.so "$f/elfroot/lib/"
  archive=$(printf 'name=p\nversion=1\nrank=1\ndepends=-\ndescription=p\nupstream=https://p.example.org/\ndate=0\n' |
    scratch_pack "$t")
  scratch_publish 1
  vesk update >/dev/null && vesk install p >/dev/null
  cp "$f/repo/delegation" "$f/delegation"
  for target in manifest owned unpack elf elf2 delegation index; do mkdir -p "$f/seeds/$target"; done
  cp "$t/files" "$f/seeds/manifest/" && cp "$VESK_ROOT/var/lib/vesk/owned" "$f/seeds/owned/"
  cp "$f/repo/$archive" "$f/seeds/unpack/" && cp "$f/repo/delegation" "$f/seeds/delegation/"
  cp "$f/repo/index" "$f/seeds/index/" && cp "$f/vesk-index" "$f/seeds/elf/" && cp "$f/vesk-index" "$f/seeds/elf2/"
}
make_seeds
now=$VESK_NOW
deleg_sha=$(sha256sum "$fixtures/delegation" | cut -c1-64)

# A quiet, unattended run on a shared machine: no screen, no CPU binding,
# no demands on the system's crash handler or CPU governor.
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_NO_AFFINITY=1
export AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
# Every sanitizer report ends the run with an abort, which AFL saves as a
# crash. The leak check at exit would cost more than the run itself, and
# the programs allocate nothing; the sanitizer test suite keeps it on.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:symbolize=0

failed=0
summary=""
for target in $targets; do
  case "$target" in
    manifest) dict=manifest; set -- "$io" manifest @@ ;;
    owned) dict=owned; set -- "$io" owned @@ ;;
    unpack) dict=unpack; set -- "$unpack" ;;
    elf) dict=elf; set -- "$io" elf @@ ;;
    elf2) dict=elf; set -- "$io" elf2 @@ "$fixtures/elfroot" ;;
    delegation) dict=delegation; set -- "$index" delegation "$now" @@ ;;
    index) dict=index
      set -- "$index" index "$now" core "$abi" "$deleg_sha" "$fixtures/delegation" @@ ;;
    *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
  esac
  cmplog=$top/build/fuzz-cmplog/$(basename "$1")
  run=$top/build/fuzz/runs/$target
  rm -rf "$run" "$top/build/fuzz/findings/$target"
  mkdir -p "$run/scratch"
  seeds=$fixtures/seeds/$target

  echo "== fuzzing $target for ${seconds}s: $*"
  # "unpack" writes into its working directory: every run makes and enters
  # its own stage below the scratch directory (see unpack_in_fresh_stage.cc),
  # and removes the one before it, so at most one archive's files exist.
  (cd "$run/scratch" &&
   afl-fuzz -i "$seeds" -o "$run/out" -x "$top/tests/fuzz/dict/$dict.dict" -c "$cmplog" \
     -m none -t 2000 -V "$seconds" -- "$@" >"$run/afl.log" 2>&1) || {
    echo "afl-fuzz failed for $target:" >&2; tail -n 30 "$run/afl.log" >&2; exit 1; }
  rm -rf "$run/scratch"

  stats=$run/out/default/fuzzer_stats
  value() { sed -n "s/^$1 *: *//p" "$stats"; }
  crashes=$(find "$run/out/default/crashes" -name 'id:*' | wc -l)
  hangs=$(find "$run/out/default/hangs" -name 'id:*' | wc -l)
  line="$target: $(value execs_done) execs, $(value execs_per_sec)/s, edges $(value edges_found)/$(value total_edges) ($(value bitmap_cvg)), corpus $(value corpus_count), crashes $crashes, hangs $hangs"
  echo "$line"
  summary="$summary$line
"
  if [ "$crashes" -ne 0 ] || [ "$hangs" -ne 0 ]; then
    failed=1
    mkdir -p "$top/build/fuzz/findings/$target"
    find "$run/out/default/crashes" "$run/out/default/hangs" -name 'id:*' \
      -exec cp {} "$top/build/fuzz/findings/$target/" \;
    echo "!! $target: findings copied to build/fuzz/findings/$target" >&2
  fi
done

echo "== fuzzing summary"
printf '%s' "$summary"
return $failed
}

main "$@"; exit
