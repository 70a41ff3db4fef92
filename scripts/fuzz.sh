#!/usr/bin/env bash
# Builds the fuzz targets (the asan preset) and runs every target of fuzz/ for SECONDS each (default
# 20) from its seed corpus (and its dictionary, when it has one), FUZZ_JOBS at a time (default: one
# per core). Fails on any crash, leak, hang or sanitizer report; the input that did it is kept under
# build/asan/fuzz-artifacts/: add it to fuzz/corpus/<target>/ under a name that says what it was, so
# that the tests replay it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
jobs=${FUZZ_JOBS:-$(nproc)}
command -v clang++ >/dev/null || {
  echo "fuzz: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
}
cmake --preset asan -G Ninja >/dev/null
cmake --build --preset asan --target fuzz

build=build/asan
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

# Runs one target; its log is build/asan/<target>.fuzz.log, its verdict the exit status.
run() {
  local target=$1 seeds=fuzz/corpus/$1 work=$build/fuzz-corpus/$1 # what this machine found
  mkdir -p "$work" "$seeds"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$artifacts/$target-")
  [ -f "fuzz/dict/$target.dict" ] && options+=(-dict="fuzz/dict/$target.dict")
  # The leader's link threads allocate while an input runs, so libFuzzer would scan the whole heap
  # for leaks after nearly every input (a third of the time). Leaks still fail the run at its exit.
  [ "$target" = MUServerFuzz ] && options+=(-detect_leaks=0)
  "$build/fuzz/$target" "${options[@]}" "$work" "$seeds" >"$build/$target.fuzz.log" 2>&1
}

targets=()
for source in fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done

declare -A pid
failed=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run "$target" &
  pid[$target]=$!
done
for target in "${targets[@]}"; do
  log=$build/$target.fuzz.log
  if wait "${pid[$target]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: $runs runs in ${seconds} s ($((runs / seconds)) exec/s, $jobs at a time)"
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
