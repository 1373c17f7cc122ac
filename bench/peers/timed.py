#!/usr/bin/env python3
"""Runs a command with its standard output discarded and writes
"WALL_SECONDS PEAK_KIB CPU_SECONDS" to a file: wall time to the microsecond,
which GNU time's %e (hundredths) is too coarse for at a tenth of a second,
and the user + system CPU time of the command and its children, which a
busy machine moves far less than the wall time.

  timed.py OUT_FILE COMMAND [ARG...]
"""
import os
import sys
import time


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: timed.py OUT_FILE COMMAND [ARG...]")
    out_file, command = sys.argv[1], sys.argv[2:]
    actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed with status %d" % (command[0], os.waitstatus_to_exitcode(status)))
    with open(out_file, "w") as f:
        # ru_maxrss is in KiB on Linux; wait4 counts the command's own
        # children (node's helpers) in its usage.
        f.write("%.6f %d %.6f\n" % (wall, usage.ru_maxrss, usage.ru_utime + usage.ru_stime))


if __name__ == "__main__":
    main()
