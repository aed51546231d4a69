#!/usr/bin/env bash
# tests/support/machine_lock.sh, the shell's way to the locks the C++ helper
# takes: a program that the locked command leaves running does not keep the
# lock, and a link or a FIFO at the lock's name is refused at once, saying so.
set -euo pipefail
lock_sh=$(cd "$(dirname "$0")/../support" && pwd)/machine_lock.sh
work=$(mktemp -d)
# A lock of this run's own, where every lock lives.
name=lock-test-$$-$RANDOM
file=/tmp/ondaline-$name.lock # machine-wide: the place of every lock, under a name of this run's
left=
cleanup() {
  [[ -z $left ]] || kill "$left" 2>/dev/null || true
  rm -rf "$work" "$file"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The command starts a program and ends; the program goes on.
"$lock_sh" "$name" "a test" sh -c 'sleep 60 </dev/null >/dev/null 2>&1 & echo $! >"$1"' sh "$work/left.pid"
left=$(<"$work/left.pid")
kill -0 "$left" || fail "the program the command started has ended already"
flock -n "$file" true || fail "the program the command left running keeps $file: the next run would wait"

# A link, which the open would follow to a file that may be anyone's, and a
# FIFO, whose open would wait for a writer for ever.
: >"$work/elsewhere"
for kind in link FIFO; do
  rm -f "$file"
  if [[ $kind == link ]]; then ln -s "$work/elsewhere" "$file"; else mkfifo "$file"; fi
  status=0
  said=$(timeout 10 "$lock_sh" "$name" "a test" touch "$work/ran" 2>&1) || status=$?
  [[ $status == 1 && ! -e $work/ran ]] || fail "a $kind at $file: exit $status, the command ran: $([[ -e $work/ran ]] && echo yes || echo no); it said: $said"
  [[ $said == "cannot open $file, the lock every test run on this machine takes in turn"* ]] ||
    fail "a $kind at $file: not the refusal: $said"
done
echo "machine_lock.sh: a program left running lets go; a link and a FIFO are refused"
