# shellcheck shell=sh
# Shell test plumbing: `expect TITLE COMMANDS <<EOF` compares the exact transcript (stdout and
# stderr as they interleave, then "[status N]" when N is not 0); a failure prints the title and
# the difference in the form the mutation tool reads.
set -u
# $IO and $INDEX: this build's programs, or what VESK_IO and VESK_INDEX name.
export IO="${VESK_IO:-$VESK_BINARY_DIR/vesk-io}" INDEX="${VESK_INDEX:-$VESK_BINARY_DIR/vesk-index}"
case_count=0 failed=0
TEST_TMP=$(mktemp -d /tmp/vesk-test.XXXXXX)
chmod 0755 "$TEST_TMP"
trap 'rm -rf "$TEST_TMP"' EXIT
echo "[ RUN      ] ${0##*/}"

expect() { # TITLE COMMANDS <<TRANSCRIPT
  case_count=$((case_count + 1))
  cat >"$TEST_TMP/.want"
  { (eval "$2") 2>&1 || echo "[status $?]"; } >"$TEST_TMP/.got"
  # The coverage run's message check reads every transcript.
  [ -z "${VESK_STDERR_LOG:-}" ] || cat "$TEST_TMP/.got" >>"$VESK_STDERR_LOG"
  cmp -s "$TEST_TMP/.want" "$TEST_TMP/.got" && return 0
  failed=$((failed + 1))
  where=$0:$case_count
  printf '%s: Failure\nGoogle Test trace:\n%s: %s\n' "$where" "$where" "$1"
  diff -u "$TEST_TMP/.want" "$TEST_TMP/.got" | tail -n +3
}

finish() {
  echo "$((case_count - failed)) passed, $failed failed"
  [ "$failed" -eq 0 ]
}
