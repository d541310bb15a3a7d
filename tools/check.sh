#!/bin/sh
# The deep checks, after tools/test.sh: the clang build (warning-free) and
# the suite on it, the suite on an AddressSanitizer + UndefinedBehaviorSanitizer
# build, line and branch coverage with the check that every failure message
# is produced, clang-tidy, cppcheck and shellcheck, and a minute of fuzzing
# per parser (VESK_FUZZ_SECONDS sets another length).
#
#   sh tools/check.sh
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)

sh tools/install-packages.sh clang afl++ gcovr clang-tidy cppcheck shellcheck python3 mandoc

echo "== host build (clang++): warning-free, and the tests again"
cmake --preset clang >/dev/null
cmake --build --preset clang
ctest --preset clang

echo "== sanitizer build (ASan + UBSan) and the tests again"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

echo "== coverage of io/ and index/, and every failure message produced"
sh tools/coverage.sh

echo "== static analysis"
sh tools/lint.sh

echo "== fuzzing every parser for a minute"
sh tools/fuzz.sh --seconds "${VESK_FUZZ_SECONDS:-60}"
echo "== check.sh: $(($(date +%s) - started)) s"
