#!/bin/sh
# Line and branch coverage of io/ and index/ under the whole test suite
# (gcc --coverage, "coverage" preset, report by gcovr), and the check that
# the suite makes the real programs print every fixed failure message.
#
#   sh tools/coverage.sh            report; fail below the thresholds
#   sh tools/coverage.sh --html     also write build/coverage/html/index.html
#
# Fails when line or branch coverage is below VESK_MIN_LINES or
# VESK_MIN_BRANCHES (percent) or a message is never produced
# (tools/unreachable-messages.txt lists the few no run can produce, and why).
# Every line runs; of the branches, the suite leaves out some single parts of
# compound rules whose other parts' rows catch the same faults, and calls
# that cannot fail here (fchmod and close of a file just made). How many
# planted faults the suite catches is the measure of its power
# (../shared/tools/mutants.py), not this percentage.
set -eu
cd "$(dirname "$0")/.."
min_lines=${VESK_MIN_LINES:-100}
min_branches=${VESK_MIN_BRANCHES:-95}
html=""
[ "${1:-}" = "--html" ] && html=1

cmake --preset coverage >/dev/null
cmake --build --preset coverage
build=$(pwd)/build/coverage
find "$build" -name '*.gcda' -delete
# Notes of sources that are gone (a concern renamed or removed) would be
# reported as code that never ran.
find "$build/CMakeFiles" -name '*.cc.gcno' | while read -r notes; do
  source=$(echo "$notes" | sed 's|.*\.dir/||; s|\.gcno$||')
  [ -f "$source" ] || rm -f "$notes"
done

# Some tests run the programs as another user. Their counters must still
# land, and libgcov must not print to the standard error the tests compare:
# create every counter file once as root and open it to everyone.
"$build/vesk-io" >/dev/null 2>&1 || true
"$build/vesk-index" >/dev/null 2>&1 || true
find "$build" -name '*.gcda' -exec chmod 0666 {} +

log=$build/stderr.log
rm -f "$log"
# shellcheck disable=SC2086
VESK_STDERR_LOG=$log GCOV_ERROR_FILE=/dev/null ctest --preset coverage ${VESK_CTEST_ARGS:-}

echo "== coverage of io/ and index/"
report="gcovr --root . --object-directory $build --filter io/ --filter index/ --exclude-unreachable-branches"
$report --txt "$build/coverage.txt" --print-summary | tee "$build/summary.txt"
if [ -n "$html" ]; then
  mkdir -p "$build/html"
  $report --html-details "$build/html/index.html" >/dev/null
fi
status=0
below() { awk -v got="$1" -v min="$2" 'BEGIN { exit !(got + 0 < min + 0) }'; }
lines=$(sed -n 's/^lines: \([0-9.]*\)%.*/\1/p' "$build/summary.txt")
branches=$(sed -n 's/^branches: \([0-9.]*\)%.*/\1/p' "$build/summary.txt")
if [ -z "$lines" ] || below "$lines" "$min_lines"; then
  echo "!! line coverage ${lines:-unknown}% is below $min_lines%" >&2
  status=1
fi
if [ -z "$branches" ] || below "$branches" "$min_branches"; then
  echo "!! branch coverage ${branches:-unknown}% is below $min_branches%" >&2
  status=1
fi

echo "== failure messages"
python3 tools/check_messages.py "$log" || status=1
exit $status
