# Shared helpers of the test peer scripts. Each peer runs on loopback, on
# free ports picked at start, out of a state folder of its own, and writes
# what tests need to know into <peer dir>/<peer>.env.

set -euo pipefail

# The sound servers' clients (pactl) keep a cookie under HOME: theirs is a
# home of the peer's own ($1), never that of whoever runs the tests.
use_client_home() {
  mkdir -p "$1"
  export HOME=$1 XDG_CONFIG_HOME=$1/.config
}

# A TCP port nobody listens on right now.
free_port() {
  perl -MIO::Socket::INET -e \
    'my $s = IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1", LocalPort => 0, ReuseAddr => 1) or die "no port: $!"; print $s->sockport'
}

# Waits up to $3 seconds (default 15) for a listener on $1:$2.
wait_for_port() {
  local host=$1 port=$2 limit=${3:-15} i
  for ((i = 0; i < limit * 10; i++)); do
    if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "nothing listens on $host:$port after ${limit}s" >&2
  return 1
}

# When process $1 started, in clock ticks since boot: with its pid, what
# tells it from a later process that was given the same pid.
start_time() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  set -- $stat
  echo "${20}"
}

# Starts a command in its own session, detached from our output so CTest
# does not wait for it, and records its pid and start time in $1.
start_detached() {
  local pidfile=$1 log=$2 pid
  shift 2
  setsid "$@" </dev/null >>"$log" 2>&1 &
  pid=$!
  echo "$pid $(start_time "$pid")" >"$pidfile"
}

# The pid recorded in $1, while that very process runs: a pid file left by
# a run that ended without its stop step names a process that is gone, or
# by now another's, which is not ours to signal.
running_pid() {
  local pid started stat
  [[ -f $1 ]] || return 1
  read -r pid started <"$1" || [[ -n ${pid:-} ]] || return 1
  [[ $pid =~ ^[0-9]+$ && $(start_time "$pid") == "${started:-}" ]] || return 1
  # An ended one whose parent has not reaped it yet (a detached peer's
  # parent is init, which can take seconds) has ended.
  stat=$(ps -o stat= -p "$pid" 2>/dev/null) || return 1
  [[ $stat != Z* ]] || return 1
  echo "$pid"
}

# Stops the process recorded in $1: TERM, then KILL after 10 s.
stop_pidfile() {
  local pidfile=$1 pid i
  if pid=$(running_pid "$pidfile"); then
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
      running_pid "$pidfile" >/dev/null || break
      sleep 0.1
    done
    running_pid "$pidfile" >/dev/null && { kill -KILL "$pid" 2>/dev/null || true; }
  fi
  rm -f "$pidfile"
}

# Ends the process recorded in $1 at once, as a crash would: KILL.
kill_pidfile() {
  local pid
  if pid=$(running_pid "$1"); then kill -KILL "$pid" 2>/dev/null || true; fi
  stop_pidfile "$1"
}

# Holds (STOP) or lets go on (CONT, as $1) the processes recorded in the
# pid files that follow, as a server that hangs and recovers.
signal_pidfiles() {
  local signal=$1 pidfile pid
  for pidfile in "${@:2}"; do
    if pid=$(running_pid "$pidfile"); then kill "-$signal" "$pid" 2>/dev/null || true; fi
  done
  return 0
}

# Whether others may pass through every folder from / down to $1.
others_can_enter() {
  local dir=$1
  while :; do
    [[ -n $(find "$dir" -maxdepth 0 -perm -o+x) ]] || return 1
    [[ $dir == / ]] && return 0
    dir=$(dirname "$dir")
  done
}

# A folder that unprivileged workers (nginx's, icecast's, when root starts
# them) can enter: the peer dir itself may sit under a 0700 home. In the
# temporary folder when others may pass through to it, else in /tmp.
make_world_folder() {
  local dir
  dir=$(mktemp -d -t ondaline-peer.XXXXXX)
  others_can_enter "$(dirname "$(realpath "$dir")")" || { rmdir "$dir" && dir=$(mktemp -d /tmp/ondaline-peer.XXXXXX); }
  chmod 755 "$dir"
  echo "$dir"
}

usage() {
  echo "usage: $0 start|stop PEER_DIR" >&2
  exit 2
}
