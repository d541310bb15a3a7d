#!/bin/sh
# Line and branch coverage of io/ and index/ under the whole test suite
# (gcc --coverage, "coverage" preset, report by gcovr), and the check that
# the suite makes the real programs print every fixed failure message.
#
#   sh tools/coverage.sh            report; fail below the thresholds
#   sh tools/coverage.sh --html     also write build/coverage/html/index.html
#
# Fails when line coverage is below VESK_MIN_LINES (percent) or a message is
# never produced.
set -eu
cd "$(dirname "$0")/.."
min_lines=${VESK_MIN_LINES:-95}
html=""
[ "${1:-}" = "--html" ] && html=1

cmake --preset coverage >/dev/null
cmake --build --preset coverage
build=$(pwd)/build/coverage
find "$build" -name '*.gcda' -delete

# Some tests run the programs as another user. Their counters must still
# land, and libgcov must not print to the standard error the tests compare:
# create every counter file once as root and open it to everyone.
"$build/vesk-io" >/dev/null 2>&1 || true
"$build/vesk-index" >/dev/null 2>&1 || true
find "$build" -name '*.gcda' -exec chmod 0666 {} +

log=$build/stderr.log
rm -f "$log"
VESK_STDERR_LOG=$log GCOV_ERROR_FILE=/dev/null ctest --preset coverage ${VESK_CTEST_ARGS:-}

echo "== coverage of io/ and index/"
report="gcovr --root . --object-directory $build --filter io/ --filter index/ --exclude-unreachable-branches"
$report --txt "$build/coverage.txt" --print-summary --fail-under-line "$min_lines" | tee "$build/summary.txt"
status=0
grep -q '^lines:' "$build/summary.txt" || status=1
if [ -n "$html" ]; then
  mkdir -p "$build/html"
  $report --html-details "$build/html/index.html" >/dev/null
fi
# gcovr's own failure (below the line threshold) comes back through tee's
# pipeline only as a message; compare the figure ourselves.
lines=$(sed -n 's/^lines: \([0-9.]*\)%.*/\1/p' "$build/summary.txt")
if ! awk -v got="$lines" -v min="$min_lines" 'BEGIN { exit !(got + 0 >= min + 0) }'; then
  echo "!! line coverage $lines% is below $min_lines%" >&2
  status=1
fi

echo "== failure messages"
python3 tools/check_messages.py "$log" || status=1
exit $status
