#!/usr/bin/env bash
# Locks for what every test run on this machine shares, whoever runs it and
# from whichever checkout: /tmp/ondaline-NAME.lock, the same files the
# tests' C++ helper (machine_lock.h) takes.
#
#   machine_lock.sh NAME WHAT COMMAND...   runs COMMAND while holding the
#       lock; WHAT names what it guards, for the message while waiting.
#   source machine_lock.sh; take_machine_lock NAME WHAT VAR
#       opens and takes it on a new descriptor, whose number goes into VAR;
#       closing that descriptor lets the next run have it.

# Opens the lock and waits for it, saying so. An existing file is opened
# read-only (enough for flock) and without O_CREAT, which a sticky folder
# refuses on another user's file; a new one is made 0666 whatever the umask.
take_machine_lock() {
  local name=$1 what=$2 file
  local -n lock_fd=$3
  file=/tmp/ondaline-$name.lock # machine-wide: shared by every user's runs
  [[ -e $file || -L $file ]] || (umask 0 && set -C && : >"$file") 2>/dev/null || true
  # Only a plain file: a link could lead anywhere, a FIFO would block.
  if [[ -L $file || ! -f $file ]] || ! { exec {lock_fd}<"$file"; } 2>/dev/null; then
    echo "cannot open $file, the lock every test run on this machine takes in turn" \
      "(it belongs to $(stat -c '%U, mode %a' "$file" 2>/dev/null || echo nobody known));" \
      "its owner or root can remove it, and the next run makes it anew for every user" >&2
    return 1
  fi
  if ! flock -n "$lock_fd"; then
    echo "waiting for $what: another test on this machine holds $file" >&2
    flock "$lock_fd"
  fi
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -euo pipefail
  [[ $# -ge 3 ]] || { echo "usage: $0 NAME WHAT COMMAND..." >&2; exit 2; }
  name=$1 what=$2
  shift 2
  take_machine_lock "$name" "$what" fd
  # The command runs without the descriptor: what it leaves running
  # (a program, a display) does not keep the lock once this script ends.
  status=0
  "$@" {fd}<&- || status=$?
  exit $status
fi
