#!/usr/bin/env bash
# PCM-to-socket latency of the engine and of ffmpeg (bench/pcm_latency.cpp
# says how it is measured), each publishing for N seconds of markers to a
# private peer:
#   ours   rtmp (with its video track) and icecast
#   ffmpeg rtmp without video, rtmp with the same black video track, icecast
# ffmpeg with video holds its audio for far longer than the markers' spacing
# of 10 blocks, so its markers come every 40.
#
#   bench/latency.sh [seconds] [build dir]   (defaults: 60, build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build}
probe=$build/bin/ondaline_latency
[[ -x $probe ]] || { echo "no $probe: build first" >&2; exit 1; }

source bench/start_peers.sh

run() {  # the probe's result lines; its whole output stays in $work on failure
  local log=$work/run.log
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg) before: $*"
  "$probe" --seconds "$seconds" "$@" >"$log" 2>&1 || { tail -20 "$log" >&2; exit 1; }
  grep '^latency:' "$log"
}
rtmp=(--mode rtmp --server-port "$ONDALINE_RTMP_PORT")
icecast=(--mode icecast --server-port "$ONDALINE_ICECAST_PORT" --password "$ONDALINE_ICECAST_SOURCE_PASSWORD")
run --publisher ours "${rtmp[@]}"
run --publisher ffmpeg "${rtmp[@]}" --video none
run --publisher ffmpeg "${rtmp[@]}" --video black --spacing 40
run --publisher ours "${icecast[@]}"
run --publisher ffmpeg "${icecast[@]}"
