#!/bin/sh
# Benchmark of every command on its largest input, against the tools a user
# would otherwise run and against a do-nothing program built like ours.
#
#   sh bench/run.sh            # as root; prints a Markdown report
#
# Environment: BENCH_PRESET (default "default"); BENCH_DIR (inputs, results,
# default build/bench); BENCH_STAGE (where every unpacking run, ours and the
# baselines', gets its fresh directory; default /dev/shm/vesk-bench, see
# BENCHMARKS.md for why not the disk); BENCH_RUNS_SLOW (runs of each archive
# benchmark, default 21); BENCH_RUNS_FAST (runs of each other benchmark,
# default 301); BENCH_FILTER (an extended regular expression: only the
# benchmarks whose names match, and the floor, run).
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)

preset=${BENCH_PRESET:-default}
work=${BENCH_DIR:-$top/build/bench}
stage_root=${BENCH_STAGE:-/dev/shm/vesk-bench}
slow=${BENCH_RUNS_SLOW:-21}
fast=${BENCH_RUNS_FAST:-301}

[ "$(id -u)" = 0 ] || { echo "bench/run.sh: run as root (the stage must be owned by uid 0)" >&2; exit 1; }
for tool in tar bsdtar strace python3 cc; do
  command -v $tool >/dev/null || { echo "bench/run.sh: needs $tool (Debian: tar libarchive-tools strace python3 gcc)" >&2; exit 1; }
done

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target vesk-io vesk-index vesk-noop >/dev/null
bin=$top/build/$preset
io=$bin/vesk-io
index=$bin/vesk-index

mkdir -p "$work"
work=$(cd "$work" && pwd)
cc -O2 -static -o "$work/runner" bench/runner.c
data=$work/data
if [ ! -f "$data/params.sh" ] || [ -n "$(find bench/gen.py -newer "$data/params.sh")" ]; then
  rm -rf "$data"
  python3 bench/gen.py "$data"
fi
# shellcheck source=/dev/null
. "$data/params.sh"
mkdir -p "$stage_root"
stage_fs=$(df -PT "$stage_root" | awk 'NR==2 {print $2}')
stage=$(cd "$stage_root" && pwd)/stage
rm -rf "$stage"

archives="unpack-1x0 unpack-1x32M unpack-64x512K unpack-1024x32K unpack-1024x0 unpack-1024x32K-flat"

# The plan: NAME RUNS STDIN STDOUT CWD ARGV..., one benchmark a line.
plan=$work/plan.tsv
t=$(printf '\t')
{
  echo "noop$t$fast$t-$t-$t.$t$bin/vesk-noop"
  for v in $archives; do
    a=$data/$v.tar
    echo "$v$t$slow$t$a$t-${t}fresh:$stage$t$io${t}unpack"
    echo "gnutar:$v$t$slow$t$a$t-${t}fresh:$stage$t$(command -v tar)$t-xf$t-"
    echo "bsdtar:$v$t$slow$t$a$t-${t}fresh:$stage$t$(command -v bsdtar)$t-xf$t-"
    echo "cat:$v$t$slow$t-$t-$t.$t$(command -v cat)$t$a"
  done
  echo "manifest2$t$fast$t-$t-$t.$t$io${t}manifest2$t$data/manifest-1024"
  echo "cat:manifest2$t$fast$t-$t-$t.$t$(command -v cat)$t$data/manifest-1024"
  echo "owned$t$fast$t-$t-$t.$t$io${t}owned$t$data/owned-4096"
  echo "cat:owned$t$fast$t-$t-$t.$t$(command -v cat)$t$data/owned-4096"
  echo "elf2$t$fast$t-$t-$t.$t$io${t}elf2$t$data/elf-64needed$t$data/target-root"
  echo "cat:elf2$t$fast$t-$t-$t.$t$(command -v cat)$t$data/elf-64needed"
  echo "observe$t$fast$t-$t-$t.$t$io${t}observe$t$data/install-root$t$INSTALL_PATH"
  echo "prepare2$t$fast$t-$t-$t.$t$io${t}prepare2$t$data/install-root$t$INSTALL_PATH"
  echo "stat$t$fast$t-$t-$t.$t$io${t}stat$t-c$t%s$t$data/elf-64needed"
  echo "coreutils:stat$t$fast$t-$t-$t.$t$(command -v stat)$t-c$t%s$t$data/elf-64needed"
  echo "delegation$t$fast$t-$t-$t.$t$index${t}delegation$t$NOW$t$data/delegation"
  echo "cat:delegation$t$fast$t-$t-$t.$t$(command -v cat)$t$data/delegation"
  echo "index$t$fast$t-$t-$t.$t$index${t}index$t$NOW$t$REPO$t$ABI$t$DELEG_SHA$t$data/delegation$t$data/index"
  echo "cat:index$t$fast$t-$t-$t.$t$(command -v cat)$t$data/delegation$t$data/index"
} >"$plan"
if [ -n "${BENCH_FILTER:-}" ]; then
  grep -E "^(noop|[^$t]*(${BENCH_FILTER})[^$t]*)$t" "$plan" >"$plan.new" || true
  mv "$plan.new" "$plan"
fi

# Correctness first: the unpacked tree must equal GNU tar's extraction.
for v in unpack-1024x32K unpack-64x512K; do
  rm -rf "$stage_root/check-io" "$stage_root/check-tar"
  mkdir -m 0755 "$stage_root/check-io" "$stage_root/check-tar"
  (cd "$stage_root/check-io" && "$io" unpack <"$data/$v.tar")
  (cd "$stage_root/check-tar" && tar -xf - <"$data/$v.tar")
  diff -r "$stage_root/check-io" "$stage_root/check-tar" >/dev/null || { echo "bench/run.sh: $v: unpacked tree differs from tar's" >&2; exit 1; }
done
rm -rf "$stage_root/check-io" "$stage_root/check-tar"

# Syscall counts of whole runs.
for v in $archives; do
  for who in io gnutar bsdtar; do
    rm -rf "$stage"; mkdir -m 0755 "$stage"
    case $who in
      io) set -- "$io" unpack ;;
      gnutar) set -- tar -xf - ;;
      bsdtar) set -- bsdtar -xf - ;;
    esac
    (cd "$stage" && strace -f -c -o "$work/strace-$who-$v.txt" "$@" <"$data/$v.tar")
  done
done
rm -rf "$stage"
strace -f -c -o "$work/strace-noop.txt" "$bin/vesk-noop"

load_before=$(cat /proc/loadavg)
"$work/runner" "$plan" >"$work/results.tsv"
load_after=$(cat /proc/loadavg)
"$work/runner" -m "$plan" >"$work/memory.tsv"

rmdir "$stage_root" 2>/dev/null || true
python3 bench/report.py "$work" "$load_before" "$load_after" "$slow" "$fast" "$stage_fs"
