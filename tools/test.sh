#!/bin/sh
# Builds everything and runs the whole test suite. As root it first installs
# the Debian packages the build and the tests need, when they are missing.
set -eu
cd "$(dirname "$0")/.."

packages="cmake make g++ clang libgtest-dev binutils coreutils tar libarchive-tools mandoc
          gcc-multilib g++-multilib qemu-user libclang-rt-dev
          afl++ gcovr clang-tidy cppcheck python3"

if [ "$(id -u)" = 0 ]; then
  missing=""
  for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    echo "== installing:$missing"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
  fi
fi

echo "== host build (g++) and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

echo "== host build (clang++): warning-free, and the tests again"
cmake --preset clang >/dev/null
cmake --build --preset clang
ctest --preset clang

echo "== target builds (i586 musl, dynamic and static) and the tests under qemu-i386 -cpu pentium"
sh tools/test-target.sh

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
