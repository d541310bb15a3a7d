#!/bin/sh
# Source coverage of what the fuzzer found: replays each target's kept
# inputs (build/fuzz/runs/TARGET/out/default/queue, from tools/fuzz.sh)
# through the coverage build and reports line and branch coverage of the
# sources that target exercises. AFL's own edge count covers the whole
# program; this says how much of the target's parser the corpus reaches.
#
#   sh tools/fuzz_coverage.sh [TARGET...]
set -eu
cd "$(dirname "$0")/.."

targets=${*:-manifest owned unpack elf elf2 delegation index}
cmake --preset coverage >/dev/null
cmake --build --preset coverage --target vesk-io vesk-index >/dev/null
build=$(pwd)/build/coverage
fixtures=$(mktemp -d /tmp/vesk-fuzz-coverage.XXXXXX)
trap 'rm -rf "$fixtures"' EXIT
python3 tests/fuzz/make_seeds.py "$fixtures"
abi=abababababababababababababababababababababababababababababababab
sha=dededededededededededededededededededededededededededededededede

for target in $targets; do
  queue=$(pwd)/build/fuzz/runs/$target/out/default/queue
  [ -d "$queue" ] || { echo "$target: no corpus (run tools/fuzz.sh $target first)"; continue; }
  case "$target" in
    manifest) sources="io/manifest.cc" ;;
    owned) sources="io/owned.cc" ;;
    unpack) sources="io/unpack.cc io/tar_fields.cc" ;;
    elf|elf2) sources="io/elf_check.cc" ;;
    delegation) sources="index/metadata_reader.cc index/delegation.cc" ;;
    index) sources="index/index_file.cc index/dependencies.cc index/version.cc" ;;
  esac
  find "$build" -name '*.gcda' -delete
  for input in "$queue"/id:*; do
    stage=$(mktemp -d /tmp/vesk-fuzz-stage.XXXXXX)
    chmod 0755 "$stage"
    case "$target" in
      unpack) (cd "$stage" && "$build/vesk-io" unpack <"$input") ;;
      elf2) "$build/vesk-io" elf2 "$input" "$fixtures/root" ;;
      delegation) "$build/vesk-index" delegation 500 "$input" ;;
      index) "$build/vesk-index" index 500 core $abi $sha "$fixtures/delegation" "$input" ;;
      *) "$build/vesk-io" "$target" "$input" ;;
    esac >/dev/null 2>&1 || true
    rm -rf "$stage"
  done
  filters=""
  for source in $sources; do filters="$filters --filter $source"; done
  summary=$(gcovr --root . --object-directory "$build" $filters --exclude-unreachable-branches \
              --print-summary -o /dev/null 2>/dev/null)
  echo "$target ($sources): $(echo "$summary" | grep -E '^(lines|branches):' | tr '\n' ' ')"
done
