"""What another local user can do to the server: win the race for a passive data port of a
TLS session, or hand it a root folder of theirs."""

import ftplib
import os
import ssl
import stat
import subprocess

import pytest

from conftest import PASSWORD, PYTHON, SCRIPT, SERVER_DIR, USER

MAKE_CERTS = os.path.join(os.path.dirname(SERVER_DIR), "tls", "make_certs.py")


class ResumingFTP(ftplib.FTP_TLS):
    """A client that resumes the control connection's TLS session on its data connections."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        return conn, size


@pytest.fixture
def certs(tmp_path):
    folder = tmp_path / "certs"
    folder.mkdir()
    subprocess.run([PYTHON, MAKE_CERTS, str(folder)], check=True, timeout=60)
    return folder


def tls_login(server, certs, kind):
    ftp = kind(context=ssl.create_default_context(cafile=str(certs / "ca.pem")), timeout=10)
    ftp.connect(server.address, server.port)
    ftp.auth()
    ftp.login(USER, PASSWORD)
    ftp.prot_p()
    return ftp


def test_tls_data_connection_that_does_not_resume_the_session_gets_nothing(start_server, certs):
    server = start_server("--demo", "--tls", str(certs / "server.pem"), str(certs / "server.key"))
    resuming = tls_login(server, certs, ResumingFTP)
    lines = []
    resuming.retrlines("LIST", lines.append)
    assert len(lines) > 1
    resuming.quit()

    # Another process's connection to the data port holds no session of this control connection.
    stranger = tls_login(server, certs, ftplib.FTP_TLS)
    lines = []
    with pytest.raises((ftplib.error_perm, ssl.SSLError, OSError, EOFError)) as refused:
        stranger.retrlines("LIST", lines.append)
    assert lines == []
    if isinstance(refused.value, ftplib.error_perm):
        assert str(refused.value).startswith("522")
    stranger.close()


def start(root):
    return subprocess.run([PYTHON, SCRIPT, "--root", str(root), "--port", "0", "--user", USER,
                           "--password", PASSWORD, "--home", "$DATA01.ZDEMO"],
                          capture_output=True, text=True, timeout=20)


@pytest.mark.parametrize("mode, owner, why", [
    (0o777, None, "may be written by other users (mode 777)"),
    (0o775, None, "may be written by other users (mode 775)"),
    (0o700, 65534, "is not a folder of yours"),
])
def test_root_another_user_could_change_is_refused(tmp_path, mode, owner, why):
    root = tmp_path / "shared"
    root.mkdir()
    os.chmod(root, mode)
    if owner is not None:
        if os.geteuid() != 0:
            pytest.skip("only root can give a folder to another user")
        os.chown(root, owner, owner)
    result = start(root)
    assert result.returncode == 2
    assert why in result.stderr
    assert os.listdir(root) == []


def test_new_root_is_made_private(start_server, tmp_path):
    server = start_server(root=tmp_path / "new" / "root")
    assert stat.S_IMODE(os.stat(tmp_path / "new" / "root").st_mode) == 0o700
    assert server.first_line.startswith("guardian-ftpd listening on")
