#!/usr/bin/env bash
# Builds the threaded suites under ThreadSanitizer (the tsan preset, without Qt) and runs them:
# the session, virtual media serving, the simulator, the multi-user leader, capture, and the
# console connection. Any race report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
suites=(session_tests vmedia_tests sim_tests
        multiuser_tests capture_tests net_tests)
cmake --preset tsan -G Ninja >/dev/null
cmake --build --preset tsan -j "${TSAN_JOBS:-2}" --target "${suites[@]}"
# Only the suites built here are run: not the fuzz replays nor the suites left unbuilt.
ctest --preset tsan -E '_fuzz$|_NOT_BUILT$' "$@"
