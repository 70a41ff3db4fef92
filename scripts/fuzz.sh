#!/usr/bin/env bash
# Builds the fuzz preset and runs every target of fuzz/ for SECONDS each (default 20) from its seed
# corpus (and its dictionary, when it has one). Fails on any crash, leak, hang or sanitizer report;
# the input that did it is kept under build/fuzz/artifacts/: add it to fuzz/corpus/<target>/ under
# a name that says what it was, so that the tests replay it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
command -v clang++ >/dev/null || {
  echo "fuzz: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
}
cmake --preset fuzz -G Ninja >/dev/null
cmake --build --preset fuzz -j "${FUZZ_JOBS:-2}"

bin=build/fuzz/fuzz
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
failed=()
for source in fuzz/*.cpp; do
  target=$(basename "$source" .cpp)
  seeds=fuzz/corpus/$target
  work=build/fuzz/corpus/$target  # what this machine found, kept between runs
  mkdir -p "$work" "$seeds"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/$target-")
  [ -f "fuzz/dict/$target.dict" ] && options+=(-dict="fuzz/dict/$target.dict")
  log=build/fuzz/$target.log
  if [ ! -x "$bin/$target" ] && grep -q '#include "host/qt/' "$source"; then
    echo "fuzz: $target: needs the Qt layer, which this preset leaves out (the tests replay it)"
    continue
  fi
  if "$bin/$target" "${options[@]}" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: $runs runs in ${seconds} s ($((runs / seconds)) exec/s)"
  else
    echo "fuzz: $target FAILED; its log:" >&2
    grep -E -A12 'ERROR|SUMMARY|Test unit written|runtime error' "$log" | head -60 >&2 || tail -40 "$log" >&2
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
