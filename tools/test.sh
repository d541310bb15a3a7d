#!/bin/sh
# The test suite in minutes: builds the programs and the tests on the host,
# runs the suite, then builds the i586 musl programs (dynamic and static) and
# runs the same suite against each pair under qemu-i386 -cpu pentium. As root
# it first installs the Debian packages it needs, when they are missing.
# The deep checks (sanitizers, coverage, static analysis, fuzzing) are
# tools/check.sh.
#
#   sh tools/test.sh
set -eu
cd "$(dirname "$0")/.."
started=$(date +%s)

sh tools/install-packages.sh cmake make g++ clang libgtest-dev binutils coreutils tar libarchive-tools mandoc \
  gcc-multilib g++-multilib qemu-user libclang-rt-dev openssh-client util-linux busybox-static strace curl

echo "== host build (g++) and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

sh tools/test-target.sh
echo "== test.sh: $(($(date +%s) - started)) s"
