#!/usr/bin/env bash
# What the dashboard program costs, as the kernel counts it (/proc utime +
# stime, and the peak resident size), on a virtual display:
#   idle       the dashboard shown, nothing streaming (the needles and the
#              schedulers still tick)
#   icecast    a 440 Hz tone pushed to the TCP input and streamed to icecast2
#   still      the same over RTMP to nginx with a still picture
#   overlays   the same with the spectrum bars, the crawler and the song text
# Beside each streaming job, the harness doing the same job with the same
# sender (bench/compare_process.sh's jobs, fed through the TCP input).
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
# The dashboard listens on the TCP input's fixed port, as the tests'
# programs do: taken in turn with every test run on this machine.
source tests/support/machine_lock.sh
take_machine_lock tcp-input "the TCP input's port 9170" tcp_input_lock
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

still=$work/still.png
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:duration=1" -frames:v 1 "$still"
printf 'Station news\nWeather: sunny\n' >"$work/crawler.txt"

# The settings of a job's station, and the harness's options for it.
settings() {
  local icecast="\"icecastHost\": \"127.0.0.1\", \"icecastPort\": $ONDALINE_ICECAST_PORT, \"icecastMount\": \"/dashboard.aac\", \"icecastPassword\": \"$ONDALINE_ICECAST_SOURCE_PASSWORD\""
  local rtmp="\"serverURL\": \"$ONDALINE_RTMP_URL\", \"streamKey\": \"bench-dashboard-$1\""
  case $1 in
    idle | still) echo "\"streamMode\": \"rtmp\", $rtmp, \"defaultImagePath\": \"$still\"" ;;
    icecast) echo "\"streamMode\": \"icecast\", $icecast" ;;
    overlays) echo "\"streamMode\": \"rtmp\", $rtmp, \"defaultImagePath\": \"$still\", \"visualization\": {\"enabled\": true}, \"crawler\": {\"enabled\": true}" ;;
  esac
}
harness_args() {
  case $1 in
    icecast) echo --mode icecast --host 127.0.0.1 --port "$ONDALINE_ICECAST_PORT" --mount /harness.aac \
      --password "$ONDALINE_ICECAST_SOURCE_PASSWORD" ;;
    still) echo --mode rtmp --url "$ONDALINE_RTMP_URL" --key bench-harness-still --image "$still" ;;
    overlays) echo --mode rtmp --url "$ONDALINE_RTMP_URL" --key bench-harness-overlays --image "$still" --bars \
      --crawler "$work/crawler.txt" ;;
  esac
}

# Peak resident size of a running process, MiB.
peak() { awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }

# The program with a home of its own whose station streams the TCP input;
# prints its CPU seconds over the measured span (streaming, or idle) and its
# peak resident size up to then.
dashboard() {
  local job=$1 home=$work/home-$1
  mkdir -p "$home/station/Misc/System/Streamer" "$home/station/Music"
  echo "$home/station" >"$home/.ondaline_station"
  cp "$work/crawler.txt" "$home/station/Misc/System/crawler.txt"
  printf 'Radio Ondes\tLate Night Jazz' >"$home/station/Misc/System/current_song.txt"
  printf '{%s, "audioSource": "tcp", "audioBitrate": 320000}' "$(settings "$job")" \
    >"$home/station/Misc/System/Streamer/ondaline_schedule.json"
  HOME=$home XDG_CONFIG_HOME=$home/.config "$program" >"$work/program-$job.log" 2>&1 &
  local pid=$! window=
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --pid $pid 2>/dev/null | head -n1 || true)
    [[ -n $window ]] && break
    sleep 0.1
  done
  [[ -n $window ]] || { echo "the dashboard did not show" >&2; exit 1; }
  sleep 5
  local sender= before
  if [[ $job != idle ]]; then
    # Press Start, then measure while the tone plays.
    send_tone 9170 $((seconds + 12)) >/dev/null 2>&1 &  # a broken pipe when the input goes is expected
    sender=$!
    sleep 2
    xdotool mousemove --window "$window" 178 540 click 1
    for _ in $(seq 200); do grep -q "Publishing live\|Icecast connected" "$work/program-$job.log" && break; sleep 0.1; done
    grep -q "Publishing live\|Icecast connected" "$work/program-$job.log" || { echo "$job: the dashboard did not go live" >&2; exit 1; }
    sleep 3
  fi
  before=$(cpu $pid)
  sleep "$seconds"
  awk -v a="$before" -v b="$(cpu $pid)" -v m="$(peak $pid)" 'BEGIN { printf "%.2f %s", b - a, m }'
  if [[ -n $sender ]]; then
    xdotool mousemove --window "$window" 178 540 click 1
    wait $sender || true
  fi
  kill $pid; wait $pid 2>/dev/null || true
}

# The harness, the same job: its TCP input, the same sender.
harness() {
  local job=$1 port=$((20000 + RANDOM % 20000))
  local song=()
  [[ $job == overlays ]] && song=(--song 'Radio Ondes\nLate Night Jazz')
  # shellcheck disable=SC2046
  "$harness" $(harness_args "$job") "${song[@]}" --bitrate 320000 --source tcp --tcp-port $port \
    --seconds $((seconds + 8)) >"$work/harness-$job.log" 2>&1 &
  local hpid=$! sender before
  send_tone $port $((seconds + 12)) >/dev/null 2>&1 &
  sender=$!
  for _ in $(seq 200); do grep -q "Publishing live\|Icecast connected" "$work/harness-$job.log" && break; sleep 0.1; done
  sleep 3
  before=$(cpu $hpid)
  sleep "$seconds"
  awk -v a="$before" -v b="$(cpu $hpid)" -v m="$(peak $hpid)" 'BEGIN { printf "%.2f %s", b - a, m }'
  wait $hpid || true
  kill $sender 2>/dev/null || true
}

read -r idle idle_rss <<<"$(dashboard idle)"
rows=()
for job in icecast still overlays; do
  read -r ours ours_rss <<<"$(dashboard $job)"
  read -r theirs theirs_rss <<<"$(harness $job)"
  rows+=("$(awk -v job="$job" -v a="$ours" -v b="$theirs" -v ra="$ours_rss" -v rb="$theirs_rss" \
    'BEGIN { printf "| %s | %.2f | %.2f | %.2f | %.1f | %.1f | %+.1f |", job, a, b, a / b, ra, rb, ra - rb }')")
done

printf '\n%s, %s cores, load %s\n' "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
awk -v c="$idle" -v s="$seconds" -v r="$idle_rss" \
  'BEGIN { printf "idle dashboard: %.2f s in %s s (%.1f %% of a core), peak RSS %.1f MiB\n\n", c, s, 100 * c / s, r }'
printf 'CPU seconds over %s s of streaming a tone pushed to the TCP input; peak RSS in MiB:\n\n' "$seconds"
echo "| job | CPU dashboard | CPU harness | dashboard/harness | RSS dashboard | RSS harness | difference |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
