#!/usr/bin/env bash
# What the dashboard program costs, as the kernel counts it (/proc utime +
# stime), on a virtual display:
#   idle       the dashboard shown, nothing streaming (the needles and the
#              schedulers still tick)
#   tcp tone   a 440 Hz tone pushed to the TCP input and streamed over RTMP
#              to nginx with the black picture, the VU meter moving; beside
#              it the harness doing the same job with the same sender
#
#   bench/dashboard_cpu.sh [seconds] [build dir]   (defaults: 30, build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${2:-build}
program=$build/bin/ondaline
harness=$build/bin/ondaline-harness
[[ -x $program && -x $harness ]] || { echo "build $program and $harness first" >&2; exit 1; }

source bench/start_peers.sh
source "$work/rtmp.env"
tick=$(getconf CLK_TCK)

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
trap 'kill $xvfb 2>/dev/null; scripts/peers/rtmp stop "$work" >/dev/null; scripts/peers/icecast stop "$work" >/dev/null; rm -rf "$work"' EXIT

# CPU seconds a process has used so far.
cpu() { awk -v tick="$tick" '{ printf "%.2f", ($14 + $15) / tick }' "/proc/$1/stat"; }

# A paced 440 Hz tone at -12 dBFS to the TCP input on port $1 for $2 s.
send_tone() {
  python3 - "$1" "$2" <<'PY'
import array, math, socket, struct, sys, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
for _ in range(100):
    try:
        s = socket.create_connection(("127.0.0.1", port)); break
    except OSError:
        time.sleep(0.1)
s.sendall(struct.pack("<III", 44100, 2, 32))
amp, block, n, start = 10 ** (-12 / 20), 1024, 0, time.monotonic()
while n < seconds * 44100:
    samples = array.array("f", [0.0] * (2 * block))
    for i in range(block):
        samples[2 * i] = samples[2 * i + 1] = amp * math.sin(2 * math.pi * 440 * (n + i) / 44100)
    s.sendall(samples.tobytes())
    n += block
    delay = start + n / 44100 - time.monotonic()
    if delay > 0: time.sleep(delay)
PY
}

# The program with a home of its own whose station streams the TCP input.
home=$work/home
mkdir -p "$home/station/Misc/System/Streamer" "$home/station/Music"
echo "$home/station" >"$home/.ondaline_station"
printf '{"streamMode": "rtmp", "serverURL": "%s", "streamKey": "bench-dashboard", "audioSource": "tcp", "audioBitrate": 320000}' \
  "$ONDALINE_RTMP_URL" >"$home/station/Misc/System/Streamer/ondaline_schedule.json"
HOME=$home XDG_CONFIG_HOME=$home/.config "$program" >"$work/program.log" 2>&1 &
pid=$!
window=
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --classname '.' 2>/dev/null | head -n1 || true)
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || { echo "the dashboard did not show" >&2; exit 1; }

sleep 5
before=$(cpu $pid)
sleep "$seconds"
idle=$(awk -v a="$before" -v b="$(cpu $pid)" -v s="$seconds" 'BEGIN { printf "%.2f s (%.2f %% of a core)", b - a, 100 * (b - a) / s }')

# Streaming: press Start, then measure while the tone plays.
send_tone 9170 $((seconds + 12)) &
sender=$!
sleep 2
xdotool mousemove --window "$window" 178 540 click 1
for _ in $(seq 200); do grep -q "Publishing live" "$work/program.log" && break; sleep 0.1; done
sleep 3
before=$(cpu $pid)
sleep "$seconds"
ours=$(awk -v a="$before" -v b="$(cpu $pid)" 'BEGIN { printf "%.2f", b - a }')
xdotool mousemove --window "$window" 178 540 click 1
wait $sender || true
kill $pid; wait $pid 2>/dev/null || true

# The harness, the same job: its TCP input, the same sender, RTMP with video.
port=$((20000 + RANDOM % 20000))
"$harness" --mode rtmp --url "$ONDALINE_RTMP_URL" --key bench-harness --source tcp --tcp-port $port \
  --seconds $((seconds + 8)) >"$work/harness.log" 2>&1 &
hpid=$!
send_tone $port $((seconds + 12)) &
sender=$!
for _ in $(seq 200); do grep -q "Publishing live" "$work/harness.log" && break; sleep 0.1; done
sleep 3
before=$(cpu $hpid)
sleep "$seconds"
theirs=$(awk -v a="$before" -v b="$(cpu $hpid)" 'BEGIN { printf "%.2f", b - a }')
wait $hpid || true
kill $sender 2>/dev/null || true

printf '\n%s, %s cores, load %s\n' "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'idle dashboard, %s s: %s\n' "$seconds" "$idle"
printf 'tcp tone to RTMP, %s s: dashboard %s s, harness %s s, ratio %s\n' "$seconds" "$ours" "$theirs" \
  "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
