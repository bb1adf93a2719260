import ftplib
import os
import signal
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
SCRIPT = os.path.join(SERVER_DIR, "guardian_ftpd.py")
PYTHON = "/usr/bin/python3"   # Debian's, the one that has pyftpdlib
USER, PASSWORD = "DEV.MGR", "s3cret"

sys.path.insert(0, SERVER_DIR)


class Server:
    """One guardian_ftpd.py process on a free loopback port."""

    def __init__(self, root, *extra):
        self.root = str(root)
        self.proc = subprocess.Popen(
            [PYTHON, SCRIPT, "--root", self.root, "--port", "0", "--user", USER,
             "--password", PASSWORD, "--home", "$DATA01.ZDEMO", *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.first_line = self.proc.stdout.readline().rstrip("\n")
        if not self.first_line:
            self.proc.wait(5)
            raise RuntimeError("server did not start: " + self.proc.stderr.read())
        self.port = int(self.first_line.rsplit(":", 1)[1])
        self.address = "::1" if "--address" in extra and "::1" in extra else "127.0.0.1"

    def connect(self, login=True):
        ftp = ftplib.FTP(timeout=10)
        ftp.connect(self.address, self.port)
        if login:
            ftp.login(USER, PASSWORD)
        return ftp

    def stop(self):
        """SIGTERM and the exit code."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(10)
        finally:
            self.proc.stdout.close()
            self.proc.stderr.close()


@pytest.fixture
def start_server(tmp_path):
    started = []

    def start(*extra, root=None):
        server = Server(root or tmp_path / "root", *extra)
        started.append(server)
        return server

    yield start
    for server in started:
        assert server.stop() == 0


@pytest.fixture
def server(start_server):
    return start_server()


@pytest.fixture
def ftp(server):
    f = server.connect()
    yield f
    try:
        f.quit()
    except (ftplib.Error, OSError):
        f.close()
