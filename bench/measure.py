"""Runs one command and prints "elapsed_s cpu_s peak_kib exit_code" of that process alone.
The command's own output is shown only when it fails."""
import os
import subprocess
import sys
import tempfile
import time

with tempfile.TemporaryFile() as err:
    start = time.monotonic()
    proc = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=err, stderr=err)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        err.seek(0)
        sys.stderr.write(err.read().decode(errors="replace")[-2000:])
print("%.3f %.3f %d %d" % (elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, code))
