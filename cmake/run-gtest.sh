#!/bin/sh
# run-gtest.sh [emulator] <test-exe> [args...]
# Runs a googletest executable and passes only when it exited 0 and its output holds the final
# summary "[  PASSED  ] N test(s)" with N > 0 and no "[  FAILED  ]" line.
out=$(mktemp) || exit 2
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1
rc=$?
cat "$out"
if [ $rc -ne 0 ]; then
  echo "run-gtest.sh: exit code $rc" >&2
  exit 1
fi
# googletest's own output has \r\n line ends under Wine.
if ! tr -d '\r' <"$out" | grep -Eq '^\[  PASSED  \] [1-9][0-9]* tests?\.'; then
  echo "run-gtest.sh: no googletest summary with passed tests: the executable did not really run" >&2
  exit 1
fi
if tr -d '\r' <"$out" | grep -q '^\[  FAILED  \]'; then
  echo "run-gtest.sh: failures reported" >&2
  exit 1
fi
exit 0
