#!/usr/bin/env bash
# Process CPU time of the harness streaming a tone for N seconds (default 60)
# beside ffmpeg -re doing the same job (same tone, same AAC encoder, same
# bit rate) to the same nginx-rtmp peer. Run after scripts/test has built
# everything: bench/compare_cpu.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
peer_dir=$(mktemp -d)
trap 'scripts/peers/rtmp stop "$peer_dir" >/dev/null; rm -rf "$peer_dir"' EXIT
scripts/peers/rtmp start "$peer_dir" >/dev/null
source "$peer_dir/rtmp.env"

cpu_of() {  # user+system seconds of the command's process tree
  TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{printf "%.2f\n", $1+$2}'
}

ours=$(cpu_of build/bin/ondaline-harness --mode rtmp --url "$ONDALINE_RTMP_URL" --key cpu-ours \
  --source tone --tone-hz 440 --tone-dbfs -12 --bitrate 320000 --seconds "$seconds")
theirs=$(cpu_of ffmpeg -nostdin -re -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
  -af "volume=-3dB" -ac 2 -c:a aac -b:a 320k -f flv "$ONDALINE_RTMP_URL/cpu-ffmpeg")
echo "harness: ${ours}s CPU, ffmpeg: ${theirs}s CPU for ${seconds}s of audio"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio: %.2f\n", a / b }'
