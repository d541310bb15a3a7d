# shellcheck shell=sh
# Shell test plumbing, sourced by the tests/*/*_test.sh scripts that ctest runs.
# A case is a title, commands, and the exact transcript they must produce:
#
#   expect 'a tampered package is refused' 'vesk install hello' <<'EOF'
#   refused at package: hello: SHA-256 differs from the index
#   [status 1]
#   EOF
#
# The transcript is standard output and standard error as they interleave,
# then "[status N]" when the status is not 0. A failing case prints its title
# and the difference (in the form the mutation tool reads as a named row);
# `finish` ends the script with status 1 if any case failed.
# $IO and $INDEX run the programs under test: VESK_IO and VESK_INDEX in the
# environment name other builds (an emulator in front included), else the
# build's own, which ctest passes as VESK_IO_PROGRAM and VESK_INDEX_PROGRAM.
# VESK_STDERR_LOG, when set, collects every transcript (the message check).
set -u
IO=${VESK_IO:-$VESK_IO_PROGRAM} INDEX=${VESK_INDEX:-$VESK_INDEX_PROGRAM}
export IO INDEX
case_count=0 failed=0
TEST_TMP=$(mktemp -d /tmp/vesk-test.XXXXXX)
chmod 0755 "$TEST_TMP"
trap 'rm -rf "$TEST_TMP"' EXIT
echo "[ RUN      ] ${0##*/}"

expect() { # TITLE COMMANDS <<TRANSCRIPT
  case_count=$((case_count + 1))
  cat > "$TEST_TMP/.expected"
  status=0
  (eval "$2") > "$TEST_TMP/.actual" 2>&1 || status=$?
  [ "$status" -eq 0 ] || echo "[status $status]" >> "$TEST_TMP/.actual"
  # A coverage run collects every transcript to see which failure messages the suite produced.
  [ -z "${VESK_STDERR_LOG:-}" ] || cat "$TEST_TMP/.actual" >> "$VESK_STDERR_LOG"
  cmp -s "$TEST_TMP/.expected" "$TEST_TMP/.actual" && return 0
  failed=$((failed + 1))
  printf '%s:%d: Failure\nGoogle Test trace:\n%s:%d: %s\n' "$0" "$case_count" "$0" "$case_count" "$1"
  diff -u "$TEST_TMP/.expected" "$TEST_TMP/.actual" | tail -n +3
}

finish() {
  echo "$((case_count - failed)) passed, $failed failed"
  [ "$failed" -eq 0 ]
}
