#!/usr/bin/env bash
# Process CPU time of the harness streaming a tone for N seconds (default 60)
# beside ffmpeg -re doing the same job (same tone, same AAC encoder, same
# bit rate) to the same nginx-rtmp peer. With "video", both also send the
# same still image as H.264 (libx264, the same settings), the harness with
# its bars, crawler and song text drawn on every frame. Run after
# scripts/test has built everything: bench/compare_cpu.sh [seconds] [video]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
video=${2:-}
peer_dir=$(mktemp -d)
trap 'scripts/peers/rtmp stop "$peer_dir" >/dev/null; rm -rf "$peer_dir"' EXIT
scripts/peers/rtmp start "$peer_dir" >/dev/null
source "$peer_dir/rtmp.env"

cpu_of() {  # user+system seconds of the command's process tree
  TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{printf "%.2f\n", $1+$2}'
}

if [[ $video == video ]]; then
  image="$peer_dir/still.png"
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:duration=1" -frames:v 1 "$image"
  printf 'Station news\nWeather: sunny\n' >"$peer_dir/crawler.txt"
  ours=$(cpu_of build/bin/ondaline-harness --mode rtmp --url "$ONDALINE_RTMP_URL" --key cpu-ours \
    --source tone --tone-hz 440 --tone-dbfs -12 --bitrate 320000 --seconds "$seconds" \
    --image "$image" --song 'Radio Ondes\nLate Night Jazz' --bars --crawler "$peer_dir/crawler.txt")
  theirs=$(cpu_of ffmpeg -nostdin -re -loop 1 -framerate 24000/1001 -i "$image" \
    -re -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -t "$seconds" \
    -vf scale=1280:720 -c:v libx264 -preset veryfast -tune zerolatency -profile:v main -level 3.1 \
    -b:v 1200k -maxrate 1500k -bufsize 1500k -g 48 -bf 0 -sc_threshold 0 -pix_fmt yuv420p \
    -af "volume=-3dB" -ac 2 -c:a aac -b:a 320k -f flv "$ONDALINE_RTMP_URL/cpu-ffmpeg")
else
  ours=$(cpu_of build/bin/ondaline-harness --mode rtmp --url "$ONDALINE_RTMP_URL" --key cpu-ours \
    --source tone --tone-hz 440 --tone-dbfs -12 --bitrate 320000 --seconds "$seconds")
  theirs=$(cpu_of ffmpeg -nostdin -re -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" \
    -af "volume=-3dB" -ac 2 -c:a aac -b:a 320k -f flv "$ONDALINE_RTMP_URL/cpu-ffmpeg")
fi
echo "harness: ${ours}s CPU, ffmpeg: ${theirs}s CPU for ${seconds}s of audio"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio: %.2f\n", a / b }'
