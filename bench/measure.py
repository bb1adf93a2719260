"""Runs one command and prints "elapsed_s cpu_s peak_kib exit_code" of that process alone."""
import os
import subprocess
import sys
import time

start = time.monotonic()
proc = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(proc.pid, 0)
elapsed = time.monotonic() - start
print("%.3f %.3f %d %d" % (elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
                           os.waitstatus_to_exitcode(status)))
