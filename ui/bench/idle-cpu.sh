#!/usr/bin/env bash
# CPU use of the window while connected and idle (the clock poll running):
# starts kyvo-sim with its demo device, opens kyvo-data-reader on it
# (offscreen unless a display is set) and reports the share of one core the
# program used over SECONDS (default 60).
#   ui/bench/idle-cpu.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?usage: idle-cpu.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill $app $sim 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/sim/kyvo-sim" >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port=$(head -1 "$work/sim.out")
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
XDG_CONFIG_HOME="$work/config" "$build/ui/kyvo-data-reader" --port "$port" 2>"$work/app.err" &
app=$!
sleep 5  # connect and identify
ticks() { awk '{print $14 + $15}' "$1"; }
hz=$(getconf CLK_TCK)
t0=$(ticks "/proc/$app/stat")
m0=$(ticks "/proc/$app/task/$app/stat")
sleep "$seconds"
t1=$(ticks "/proc/$app/stat")
m1=$(ticks "/proc/$app/task/$app/stat")
awk -v d=$((t1 - t0)) -v m=$((m1 - m0)) -v hz="$hz" -v s="$seconds" 'BEGIN {
    printf "kyvo-data-reader idle while connected: %.2f%% of one core over %d s\n", 100 * d / hz / s, s
    printf "  main thread (window, timers, protocol): %.2f%%\n", 100 * m / hz / s
    printf "  other threads (serial worker):          %.2f%%\n", 100 * (d - m) / hz / s
}'
