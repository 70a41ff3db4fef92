#!/usr/bin/env bash
# Line and branch coverage of src/ by the whole test suite, per module.
# Usage: scripts/coverage.sh [report-file [ctest-args...]]   (builds the coverage preset in
# build/coverage; e.g. `scripts/coverage.sh /tmp/v.txt -L vmedia` runs only the vmedia tests)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset coverage -G Ninja >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
ctest --preset coverage "${@:2}" >build/coverage/ctest.log 2>&1 || {
  tail -30 build/coverage/ctest.log >&2
  echo "coverage: the suite failed; the figures below are from a failing run" >&2
}
# Only the libraries' and programs' objects: test files inline the same headers with other line
# tables, which this gcovr cannot merge.
gcovr --root . --object-directory build/coverage --filter 'src/' --exclude-unreachable-branches \
  --exclude-throw-branches --gcov-ignore-parse-errors --json build/coverage/coverage.json \
  build/coverage/src build/coverage/apps >/dev/null
python3 - build/coverage/coverage.json "${1:-/dev/stdout}" <<'PY'
import json, sys
from collections import defaultdict
data = json.load(open(sys.argv[1]))
mods = defaultdict(lambda: [0, 0, 0, 0])
for f in data["files"]:
    parts = f["file"].split("/")
    mod = "/".join(parts[1:3]) if parts[1] == "host" else parts[1]
    m = mods[mod]
    for line in f["lines"]:
        if line.get("gcovr/noncode"):
            continue
        m[0] += 1
        m[1] += line["count"] > 0
        for b in line.get("branches", []):
            m[2] += 1
            m[3] += b["count"] > 0
pct = lambda n, d: 100.0 * n / d if d else 100.0
with open(sys.argv[2], "w") as out:
    out.write(f"{'module':<12} {'lines':>7} {'line%':>7} {'branches':>9} {'branch%':>8}\n")
    total = [0, 0, 0, 0]
    for mod in sorted(mods):
        m = mods[mod]
        total = [a + b for a, b in zip(total, m)]
        out.write(f"{mod:<12} {m[0]:>7} {pct(m[1], m[0]):>6.1f}% {m[2]:>9} {pct(m[3], m[2]):>7.1f}%\n")
    out.write(f"{'src/':<12} {total[0]:>7} {pct(total[1], total[0]):>6.1f}% {total[2]:>9} "
              f"{pct(total[3], total[2]):>7.1f}%\n")
PY
