"""demo.sh: starts the server, hands Zarvel the keywords and the run's password, and stops it."""

import os
import socket
import subprocess

from conftest import SERVER_DIR

# Stands in for Zarvel: reads the keywords as Zarvel's grammar does (blanks and commas
# separate tokens) and uses them to log in, enter the subvolume and list it.
FAKE_CLIENT = r'''#!/usr/bin/python3
import ftplib, os, re, sys
tokens = [t for t in re.split(r"[ ,]+", " ".join(sys.argv[1:])) if t]
out = open(sys.argv[0] + ".out", "w")
out.write(" ".join(tokens) + "\n")
kw = {}
i = 0
while i < len(tokens):
    if tokens[i] in ("AutoConnect", "TouchUp"):
        kw[tokens[i]] = True
        i += 1
    else:
        kw[tokens[i]] = tokens[i + 1]
        i += 2
# The password comes in the environment, and no process shows it on its command line.
password = os.environ["ZARVEL_PASSWORD"]
def cmdline(pid):
    try:
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            return f.read()
    except OSError:
        return b""  # ended meanwhile
shown = [p for p in os.listdir("/proc") if p.isdigit() and password.encode() in cmdline(p)]
out.write("password in argv of %d processes\n" % len(shown))
ftp = ftplib.FTP(timeout=10)
ftp.connect(kw["HostName"], int(kw["HostPort"]))
ftp.login(kw["UserID"], password)
ftp.cwd(kw["InitialSubvol"])
out.write(ftp.pwd() + "\n")
ftp.retrlines("LIST", lambda line: out.write(line + "\n"))
ftp.quit()
out.close()
sys.exit(3)
'''


def test_demo_script_connects_client_and_stops_server(tmp_path):
    client = tmp_path / "zarvel"
    client.write_text(FAKE_CLIENT)
    client.chmod(0o755)
    env = dict(os.environ, TMPDIR=str(tmp_path))
    run = subprocess.run([os.path.join(SERVER_DIR, "demo.sh"), str(client), "TouchUp"],
                         capture_output=True, text=True, timeout=60, env=env)
    assert run.returncode == 3, run.stderr          # Zarvel's exit status is passed on
    lines = (tmp_path / "zarvel.out").read_text().splitlines()
    words = lines[0].split()
    port = int(words[words.index("HostPort") + 1])
    assert words[:2] == ["HostName", "127.0.0.1"] and words[-2:] == ["AutoConnect", "TouchUp"]
    assert "Password" not in words and len(words) == 10
    assert lines[1] == "password in argv of 0 processes"
    assert lines[2] == "$DATA01.ZDEMO"
    assert lines[3].startswith("File ") and any(l.startswith("PROGC ") for l in lines[4:])
    # The server is gone and its temporary root removed.
    with socket.socket() as s:
        assert s.connect_ex(("127.0.0.1", port)) != 0
    assert [p for p in os.listdir(tmp_path) if p.startswith("guardian-ftpd.")] == []
