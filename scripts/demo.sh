#!/usr/bin/env bash
# The demo: the console against its built-in simulator. Installs what is missing, builds remcons,
# types a command at the simulated server's prompt and moves the mouse, writes the events to stdout
# as JSON lines and the picture to a PNG file whose path it prints. On a desktop the console's
# window stays until it is closed (arguments go to remcons: --param fullScreen=1 for full screen);
# without a display it runs headless for a few seconds. REMCONS_BUILD_DIR picks another build
# directory.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -n "${REMCONS_BUILD_DIR:-}" ]; then
  build="$REMCONS_BUILD_DIR"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
else
  build=build/default
  cmake --preset default -G Ninja >/dev/null
fi
cmake --build "$build" --target remcons >/dev/null

out="${TMPDIR:-/tmp}/remcons-demo"
mkdir -p "$out"
script="$out/demo-script.txt"
cat >"$script" <<'EOF'
# Wait for the first picture, let the simulated server boot, then use it.
wait-event OnResize 10000
sleep 1500
type dir\n
move 400 200
move 420 210
sleep 800
EOF

mode=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then mode=(--headless --seconds 4); fi
"$build/apps/remcons/remcons" --demo "${mode[@]}" --script "$script" --events - \
  --snapshot "$out/demo.png" "$@"
echo "snapshot: $out/demo.png"
