#!/usr/bin/env bash
# The long check of the chosen output device as a busy station machine runs
# it: beside it, on the cores it runs on (two, as CI and a small station
# machine have), two loops of the capture tests, each on a sound server of
# its own (of the kind ONDALINE_SOUND_PEER names), and a build's worth of
# work, a two-thread H.264 encode. Either load alone leaves a lost move
# unseen; together they found it.
#
#   device_check_under_load.sh PLATFORM_PULSE_TEST APP_SOURCES_PULSE_TEST
set -euo pipefail
check=$1
capture=$2
# The cores it was given, whichever they are.
cores=$(awk '/^Cpus_allowed_list:/ { print $2 }' /proc/self/status)

loads=()
stop_loads() {
  local pid
  for pid in "${loads[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  for pid in "${loads[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_loads EXIT

# The capture cases that need no other peer, over and over; a failure of
# theirs is not this check's (they run in the sound set themselves).
captures=(theSavedProgramIsFollowedWhileItPlays theApplicationOfThatNameIsCapturedAndAPickIsThatProcess
  thePickerFollowsTheApplications aPausedNamesakeDoesNotCountAfterARestart)
for _ in 1 2; do
  setsid bash -c 'while :; do QT_QPA_PLATFORM=offscreen taskset -c "$0" "$1" "${@:2}" >/dev/null 2>&1; sleep 1; done' \
    "$cores" "$capture" "${captures[@]}" &
  loads+=($!)
done
setsid bash -c 'while :; do taskset -c "$0" ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1280x720:rate=30 \
  -t 120 -c:v libx264 -threads 2 -f null - >/dev/null 2>&1 || sleep 1; done' "$cores" &
loads+=($!)

taskset -c "$cores" "$check" --gtest_filter=AudioOutputDevice.TheChosenDeviceKeepsTheStreamWhereverTheDefaultGoes
