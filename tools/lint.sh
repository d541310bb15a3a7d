#!/bin/sh
# Static analysis of io/ and index/: clang-tidy with the checks chosen in
# .clang-tidy (on the clang preset's compile commands) and cppcheck; of the
# scripts: shellcheck; of the tests' C++: the format in .clang-format; of the
# manual pages: mandoc's lint, and the DIAGNOSTICS of vesk-io(1) and
# vesk-index(1) listing exactly the messages the code prints. Any finding
# fails the run.
#
#   sh tools/lint.sh
set -eu
cd "$(dirname "$0")/.."

cmake --preset clang >/dev/null
sources=$(ls io/*.cc index/*.cc)

echo "== clang-tidy"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
# shellcheck disable=SC2086
clang-tidy --quiet -p build/clang $sources >"$out" 2>&1 || status=1
grep -v -E '^[0-9]+ warnings? generated\.$' "$out" || true
[ $status -eq 0 ] || { echo "clang-tidy findings" >&2; exit 1; }

echo "== cppcheck"
# shellcheck disable=SC2086
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ \
  --enable=warning,performance,portability --inline-suppr --suppressions-list=tools/cppcheck.suppress \
  -I io -I index $sources
echo "== shellcheck"
# shellcheck disable=SC2046
shellcheck -x $(git ls-files '*.sh' 'manager/*') .ci/run
echo "== clang-format of the tests"
# shellcheck disable=SC2046
clang-format --dry-run -Werror $(git ls-files 'tests/*.cc' 'tests/*.h')
echo "== manual pages"
mandoc -Tlint -W warning man/*
for program in io index; do
  # A message is the literal that ends a check, a call that may span lines.
  sed -nE '/^.Sh DIAG/,/^.Sh [^D]/s/^.It Li "?([^"]*)"?$/\1/p' "man/vesk-$program.1" | sort -u >"$out"
  cat "$program"/*.cc | tr '\n' ' ' |
    grep -oE '(require_or_abort|abort_with_message)\([^;]*"[^"]*"\);' |
    sed -E 's/.*"([^"]*)"\);$/\1/' | sort -u | diff "$out" - ||
    { echo "vesk-$program(1) DIAGNOSTICS differ from the messages above" >&2; exit 1; }
done
echo "static analysis clean"
