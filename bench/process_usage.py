#!/usr/bin/env python3
"""Runs a command to its end and prints what it cost, as the kernel counted
it for the child: "USER_S SYS_S MAX_RSS_KB WALL_S EXIT VOLUNTARY_SWITCHES"
(the last counted over all its threads). Its output goes to LOG. Used the
same way for the harness and for ffmpeg.

    bench/process_usage.py LOG COMMAND [ARG...]
"""
import resource
import subprocess
import sys
import time

if len(sys.argv) < 3:
    sys.exit(__doc__)
started = time.monotonic()
with open(sys.argv[1], "w") as log:
    code = subprocess.run(sys.argv[2:], stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT).returncode
wall = time.monotonic() - started
usage = resource.getrusage(resource.RUSAGE_CHILDREN)  # ru_maxrss: the largest child, in kB
print(f"{usage.ru_utime:.2f} {usage.ru_stime:.2f} {usage.ru_maxrss} {wall:.1f} {code} {usage.ru_nvcsw}")
