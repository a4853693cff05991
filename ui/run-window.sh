#!/usr/bin/env bash
# Opens the window connected to a simulated Kyvo device: starts kyvo-sim with
# its demo device on a pseudo-terminal and kyvo-data-reader on it. Without a
# display the window is rendered offscreen with the demo data instead: it
# reads the stored measurements and saves a screenshot.
#   ui/run-window.sh BUILD_DIR [SCREENSHOT]   (default: BUILD_DIR/kyvo-window.png)
set -euo pipefail
build=$(realpath "${1:?usage: run-window.sh BUILD_DIR [SCREENSHOT]}")
shot=$(realpath -m "${2:-$build/kyvo-window.png}")
sim="$build/sim/kyvo-sim"
app="$build/ui/kyvo-data-reader"
for p in "$sim" "$app"; do
  [ -x "$p" ] || { echo "run-window: $p is not built" >&2; exit 1; }
done

simout=$(mktemp)
"$sim" >"$simout" 2>"$simout.err" &
simpid=$!
trap 'kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true; rm -f "$simout" "$simout.err"' EXIT
port=""
for _ in $(seq 1 100); do
  port=$(head -n 1 "$simout" 2>/dev/null || true)
  [ -n "$port" ] && break
  kill -0 "$simpid" 2>/dev/null || { cat "$simout.err" >&2; exit 1; }
  sleep 0.05
done
[ -n "$port" ] || { echo "run-window: the simulator did not start" >&2; exit 1; }

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "window connected to the simulated device on $port"
  "$app" --port "$port"
else
  QT_QPA_PLATFORM=offscreen "$app" --port "$port" --screenshot "$shot"
  echo "screenshot of the window: $shot"
fi
