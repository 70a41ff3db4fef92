#!/usr/bin/env bash
# Size of the test suite against the code it tests: non-blank, non-comment lines of .cpp/.h in
# tests/ over those in src/ and apps/ (a line that starts with a comment counts as comment).
# With --check, fails above the house limit of 0.35.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat |
    awk '/^[ \t]*$/ || /^[ \t]*(\/\/|\/\*|\*)/ { next } { n++ } END { print n + 0 }'
}

tests=$(count tests)
code=$(count src apps)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.3f", t / c }')
echo "tests $tests / code $code = $ratio"
if [ "${1:-}" = "--check" ] && awk -v t="$tests" -v c="$code" 'BEGIN { exit !(t > 0.35 * c) }'; then
  echo "test-ratio: above 0.35" >&2
  exit 1
fi
