#!/usr/bin/env bash
# What the README tells a newcomer to do works on this machine.
#
#   readme_test.sh packages <program>   every command the README gives, and
#       every library the program loads, comes from scripts/install-deps's
#       packages (or what they depend on, or the shell itself);
#   readme_test.sh run-build            the run script without a display:
#       it builds the program with settings of its own, whatever the tests'
#       builds use, and the program says it needs a display;
#   readme_test.sh commands             the README's commands run: the
#       dashboard on a virtual display through the run script, fed by the
#       TCP one-liner, and stopped with SIGTERM.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
readme=$source_dir/README.md
fail() { echo "FAIL: $*" >&2; exit 1; }

# The lines of the README's shell examples, comments dropped.
example_lines() { awk '/^```sh$/ {on = 1; next} /^```/ {on = 0} on' "$readme" | sed 's/[[:space:]]#.*$//'; }

check_packages() {
  local program=$1
  mapfile -t listed < <("$source_dir/scripts/install-deps" --list)
  # The listed packages and everything they depend on, as installed: what
  # each installed package depends on, read in one go.
  declare -A depends=() closure=()
  local package dependency line
  while IFS=$'\t' read -r package line; do depends[$package]+=" $line"; done < <(
    dpkg-query -W -f='${Package}\t${Depends}, ${Pre-Depends}\n' | sed -E 's/\([^)]*\)//g; s/:any//g; s/[,|]/ /g')
  local queue=("${listed[@]}")
  while [[ ${#queue[@]} -gt 0 ]]; do
    package=${queue[-1]}
    unset 'queue[-1]'
    [[ -n ${closure[$package]:-} ]] && continue
    closure[$package]=1
    for dependency in ${depends[$package]:-}; do
      [[ -z ${closure[$dependency]:-} ]] && queue+=("$dependency")
    done
  done
  # The package that installed each file, following links: one search of
  # dpkg's lists for all of them, then one for the links' targets.
  declare -A owners=()
  search_owners() {
    local found
    while IFS= read -r found; do
      [[ $found == diversion* || $found != *": "* ]] && continue
      owners[${found#*: }]=${found%%:*}
    done < <(dpkg -S -- "$@" 2>/dev/null || true)
  }
  owner() {
    [[ -n ${owners[$1]:-} ]] && { echo "${owners[$1]}"; return; }
    local target
    target=$(readlink -f "$1")
    [[ -n ${owners[$target]:-} ]] || return 1
    echo "${owners[$target]}"
  }
  essential() { [[ $(dpkg-query -W -f='${Essential}' "$1" 2>/dev/null) == yes ]]; }

  # Each command of the examples: the first word of each part of a line.
  # sudo is what a newcomer brings to become root; our scripts are here.
  local commands=() word path package
  mapfile -t commands < <(example_lines | tr '|;{}&' '\n\n\n\n\n' | awk 'NF && $1 !~ /^[<>]/ {print $1}' | sort -u)
  [[ ${#commands[@]} -ge 4 ]] || fail "the README has no shell examples"
  local libraries=() files=() paths=()
  mapfile -t libraries < <(ldd "$program" | awk '$3 ~ /^\// {print $3}')
  # What it reads at run time besides: the certificates RTMPS servers are
  # checked against, and the font with the log's emoji.
  files=(/usr/share/ca-certificates/mozilla "$(fc-match -f '%{file}' emoji)")
  for word in "${commands[@]}"; do
    path=$(command -v "$word") && [[ $path == /* ]] && paths+=("$path")
  done
  paths+=("${libraries[@]}" "${files[@]}")
  search_owners "${paths[@]}"
  local targets=()
  for path in "${paths[@]}"; do [[ -n ${owners[$path]:-} ]] || targets+=("$(readlink -f "$path")"); done
  [[ ${#targets[@]} -eq 0 ]] || search_owners "${targets[@]}"

  for word in "${commands[@]}"; do
    case $word in
      sudo) continue ;;
      scripts/*) [[ -x $source_dir/$word ]] || fail "the README names $word, which is not in the repository"; continue ;;
    esac
    [[ $(type -t "$word") == builtin || $(type -t "$word") == keyword ]] && continue
    path=$(command -v "$word") || fail "the README's command $word is not installed"
    package=$(owner "$path") || fail "no package installed $path"
    [[ " ${listed[*]} " == *" $package "* ]] || essential "$package" ||
      fail "the README's command $word comes from $package, which scripts/install-deps does not list"
  done
  # Each library the program loads.
  local library
  for library in "${libraries[@]}"; do
    package=$(owner "$library") || fail "no package installed $library"
    [[ -n ${closure[$package]:-} ]] || essential "$package" ||
      fail "the program loads $library from $package, which nothing scripts/install-deps lists brings"
  done
  local file
  for file in "${files[@]}"; do
    package=$(owner "$file") || fail "no package installed $file"
    [[ " ${listed[*]} " == *" $package "* ]] || fail "$file comes from $package, which scripts/install-deps does not list"
  done
  echo "ok: ${#commands[@]} commands, ${#libraries[@]} libraries, ${#files[@]} data files"
}

check_run_build() {
  local output status=0
  output=$(cd "$source_dir" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM scripts/run 2>&1) || status=$?
  [[ $status -eq 1 && $output == *"Ondaline needs a display"* ]] || {
    echo "$output" >&2
    fail "the run script without a display ended with $status"
  }
  # Built as the run script says, not as the tests' builds are: warnings
  # are not errors there, and the debug information is whole.
  local commands=$source_dir/build-run/compile_commands.json
  [[ -f $commands ]] || fail "the run script built no build-run"
  ! grep -q -e ' -Werror' -e ' -g1 ' "$commands" || fail "the run script built with the tests' settings"
  echo "ok: the run script built the program with its own settings"
}

# The program started with this test's home, among any others running.
our_program() {
  pgrep -x ondaline | while read -r pid; do
    if grep -qzx "HOME=$work/home" "/proc/$pid/environ" 2>/dev/null; then echo "$pid"; fi
  done | head -1
}

run_commands() {
  work=$(mktemp -d)  # global: the exit trap removes it
  # Whatever happens, the program goes (it holds the TCP input's port), and
  # xvfb-run with it, if it has not ended.
  trap 'status=$?; kill -TERM $(our_program) $(jobs -p) 2>/dev/null || true; rm -rf "$work"; exit $status' EXIT
  mkdir -p "$work/home" "$work/station/Misc/System/Streamer"
  echo "$work/station" >"$work/home/.ondaline_station"
  echo '{"audioSource":"tcp"}' >"$work/station/Misc/System/Streamer/ondaline_schedule.json"

  # The virtual display and the run script, as the README gives them.
  local run
  run=$(example_lines | grep -m1 '^xvfb-run ') || fail "the README gives no xvfb-run line"
  # Started in turn with every run's virtual displays (see the tests'
  # desktop helper), until the program has opened its display.
  local start_lock
  source "$source_dir/tests/support/machine_lock.sh"
  take_machine_lock desktop-start "a virtual display's start" start_lock
  (cd "$source_dir" && HOME=$work/home XDG_CONFIG_HOME=$work/home/.config exec $run {start_lock}<&-) >"$work/log" 2>&1 &
  local session=$!
  wait_for() {
    local i
    for ((i = 0; i < 600; ++i)); do
      grep -qF "$1" "$work/log" && return 0
      kill -0 "$session" 2>/dev/null || break
      sleep 0.5
    done
    cat "$work/log" >&2
    fail "no \"$1\" in the program's output"
  }
  # The program says it is launching once it has its display. One that
  # has not got so far in a minute (the time a desktop test gives a window
  # to show) lets the other runs start theirs all the same.
  local i
  for ((i = 0; i < 120; ++i)); do
    grep -qF "Ondaline v1.0.80 launching" "$work/log" && break
    kill -0 "$session" 2>/dev/null || break
    sleep 0.5
  done
  exec {start_lock}<&-
  wait_for "TCPAudioServer: Listening on port 9170"

  # The TCP one-liner, with a file of ours for song.flac.
  ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=2" -ar 44100 -ac 2 "$work/song.flac"
  local feed
  feed=$(example_lines | grep -m1 '/dev/tcp/') || fail "the README gives no TCP line"
  (cd "$work" && bash -c "$feed") || fail "the TCP line failed: $feed"
  wait_for "TCPAudioServer: Handshake OK — 44100Hz, 2ch, Float32"
  wait_for "TCPAudioServer: Client stream ended (EOF)"

  # Stopped as the README says: SIGTERM to the program.
  local program
  program=$(our_program)
  [[ -n $program ]] || fail "the program is not running"
  kill -TERM "$program"
  local status=0
  wait "$session" || status=$?
  [[ $status -eq 0 ]] || { cat "$work/log" >&2; fail "the program ended with $status after SIGTERM"; }
  echo "ok: started through the run script on a virtual display, fed over TCP, stopped"
}

case ${1:-} in
  packages) check_packages "${2:?the program}" ;;
  run-build) check_run_build ;;
  commands) run_commands ;;
  *) echo "usage: $0 packages <program> | run-build | commands" >&2; exit 2 ;;
esac
