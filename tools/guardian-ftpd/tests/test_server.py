"""The server as Zarvel sees it, driven by ftplib over loopback."""

import ftplib
import io
import json
import os
import socket
import subprocess

import pytest

from conftest import PASSWORD, PYTHON, SCRIPT, USER


def listing(ftp, arg=""):
    lines = []
    ftp.retrlines(("LIST " + arg).strip(), lines.append)
    return lines


def codes(ftp):
    """Name -> file code from a LIST (the code is the last blank-separated field before the EOF)."""
    try:
        lines = listing(ftp)[1:]
    except ftplib.error_perm as err:
        if str(err) == "550 File not found":
            return {}
        raise
    return {line.split()[0]: int(line[13:].split()[0]) for line in lines}


def store(ftp, name, data=b"data\n", ascii=False):
    if ascii:
        return ftp.storlines("STOR " + name, io.BytesIO(data))
    return ftp.storbinary("STOR " + name, io.BytesIO(data))


def retr(ftp, name):
    out = io.BytesIO()
    ftp.retrbinary("RETR " + name, out.write)
    return out.getvalue()


def retr_ascii(ftp, name):
    """The bytes of a TYPE A download as they travel (ftplib's own turns them into lines)."""
    ftp.voidcmd("TYPE A")
    with ftp.transfercmd("RETR " + name) as conn:
        data = b"".join(iter(lambda: conn.recv(65536), b""))
    ftp.voidresp()
    return data


def tree(root):
    return sorted(os.path.relpath(os.path.join(d, f), root)
                  for d, dirs, files in os.walk(root) for f in files + dirs)


def refusal(call):
    with pytest.raises(ftplib.error_perm) as err:
        call()
    return str(err.value)


# --- start, login, stop

def test_start_line_and_login(server):
    assert server.first_line == f"guardian-ftpd listening on 127.0.0.1:{server.port}"
    ftp = server.connect(login=False)
    assert refusal(lambda: ftp.login(USER, "wrong")).startswith("530")
    assert refusal(lambda: ftp.login("anonymous", "a@b")).startswith("530")
    ftp.login(USER, PASSWORD)
    assert ftp.pwd() == "$DATA01.ZDEMO"
    ftp.quit()


def test_listens_on_loopback_only(server):
    out = subprocess.run(["ss", "-Hltn", f"sport = :{server.port}"], capture_output=True,
                         text=True)
    if out.returncode != 0:
        pytest.skip("ss not available")
    assert out.stdout.split()[3] == f"127.0.0.1:{server.port}"


def _ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


@pytest.mark.skipif(not _ipv6_loopback(), reason="no IPv6 on the loopback interface")
def test_ipv6_loopback_serves_both_data_modes(start_server):
    server = start_server("--address", "::1")
    assert server.first_line == f"guardian-ftpd listening on [::1]:{server.port}"
    ftp = server.connect()
    assert ftp.sock.getpeername()[0] == "::1"
    # ftplib speaks EPSV and EPRT over IPv6.
    for passive in (True, False):
        ftp.set_pasv(passive)
        data = os.urandom(70000)
        store(ftp, "SIX" + str(int(passive)), data)
        assert retr(ftp, "SIX" + str(int(passive))) == data
    ftp.quit()


def test_sigterm_with_sessions_open(start_server):
    server = start_server()
    idle = server.connect()
    busy = server.connect()
    busy.sendcmd("PASV")   # a data listener waiting for its connection
    assert server.stop() == 0
    with pytest.raises((EOFError, OSError, ftplib.Error)):
        idle.voidcmd("NOOP")
    idle.close()
    busy.close()


@pytest.mark.parametrize("args", [["--home", "DATA01.ZDEMO"], ["--home", "$DATA01.1X"],
                                  ["--user", "X"], ["--owner", "1;2"]])
def test_bad_command_line_is_refused(tmp_path, args):
    base = ["--root", str(tmp_path), "--port", "0", "--user", USER, "--password", PASSWORD]
    out = subprocess.run([PYTHON, SCRIPT, *base, *args], capture_output=True, text=True,
                         timeout=20)
    assert out.returncode == 2 and out.stdout == ""


def test_password_from_the_environment_for_a_single_user(tmp_path):
    env = dict(os.environ, GUARDIAN_FTPD_PASSWORD="from-env")
    proc = subprocess.Popen([PYTHON, SCRIPT, "--root", str(tmp_path), "--port", "0", "--user", USER],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        port = int(proc.stdout.readline().rsplit(":", 1)[1])
        with ftplib.FTP(timeout=10) as ftp:
            ftp.connect("127.0.0.1", port)
            ftp.login(USER, "from-env")
    finally:
        proc.terminate()
        proc.communicate(timeout=10)


# --- CWD and PWD

def test_cwd_pwd_in_any_letter_case(ftp):
    ftp.cwd("$data01.zsrc")
    assert ftp.pwd() == "$DATA01.ZSRC"
    ftp.cwd("Ztools")
    assert ftp.pwd() == "$DATA01.ZTOOLS"
    # Not stored into yet: a subvolume exists only while it holds files.
    assert refusal(lambda: listing(ftp)) == "550 File not found"
    assert ftp.sendcmd("PWD") == '257 "$DATA01.ZTOOLS" is the current subvolume.'


@pytest.mark.parametrize("target, why", [
    ("$NOSUCH.ZDEMO", "550 Volume $NOSUCH does not exist."),
    ("$DATA01", "550 \"$DATA01\" is not"),
    ("1ABC", "550 Subvolume name \"1ABC\" must begin with a letter."),
    ("TOOLONGSV", "550 Subvolume name \"TOOLONGSV\" is longer than 8 characters."),
    ("/tmp", "550 "),
    ("..", "550 "),
])
def test_cwd_refusals_leave_subvolume(ftp, target, why):
    assert refusal(lambda: ftp.cwd(target)).startswith(why)
    assert ftp.pwd() == "$DATA01.ZDEMO"


# --- file codes on upload

@pytest.mark.parametrize("target, ascii, name, code", [
    ("EDIT", True, "EDIT", 101),
    ("BIN", False, "BIN", 0),
    ("MYOBJ,100", False, "MYOBJ", 100),
    ("TEXT,180", True, "TEXT", 180),
    ("SRC,101", False, "SRC", 101),
    ("big,100,4,28,978", False, "BIG", 100),
])
def test_upload_file_codes(server, ftp, target, ascii, name, code):
    store(ftp, target, ascii=ascii)
    assert codes(ftp) == {name: code}
    # The suffix never becomes part of the stored name.
    assert sorted(os.listdir(os.path.join(server.root, "$DATA01", "ZDEMO"))) == [".catalog.json", name]


def test_ascii_and_binary_content(server, ftp):
    # ASCII is stored as it travelled, CR LF and all, and goes out with CR LF, even where
    # the stored file has LF only.
    store(ftp, "EDIT", b"line one\r\nline two\r\n", ascii=True)
    with open(os.path.join(server.root, "$DATA01", "ZDEMO", "EDIT"), "rb") as f:
        assert f.read() == b"line one\r\nline two\r\n"
    with open(os.path.join(server.root, "$DATA01", "ZDEMO", "UNIX"), "wb") as f:
        f.write(b"a\nb\r\n")
    assert retr_ascii(ftp, "UNIX") == b"a\r\nb\r\n"
    lines = []
    ftp.retrlines("RETR edit", lines.append)
    assert lines == ["line one", "line two"]
    blob = bytes(range(256)) * 300 + b"\r\n\n\r"
    store(ftp, "BLOB,100", blob)
    assert retr(ftp, "blob") == blob
    assert ftp.size("BLOB") == len(blob)


@pytest.mark.parametrize("target, why", [
    ("1ABC", "553 File name \"1ABC\" must begin with a letter."),
    ("ABCDEFGHI", "553 File name \"ABCDEFGHI\" is longer than 8 characters."),
    ("ZSRC.1C", "553 File name \"1C\" must begin with a letter."),
    ("BAD_NAME", "553 File name \"BAD_NAME\" may hold only letters and digits."),
    ("NAME,X", "553 File code \"X\" is not a decimal number."),
    ("NAME,70000", "553 File code 70000 is outside 0 to 65535."),
    ("NEW.SUB.NAME", "553 "),
    ("../../ESCAPE", "553 "),
    ("$NOSUCH.SUB.NAME", "550 Volume $NOSUCH does not exist."),
])
def test_refused_store_names_write_nothing(server, ftp, target, why):
    before = tree(server.root)
    assert refusal(lambda: store(ftp, target)).startswith(why)
    assert refusal(lambda: ftp.storbinary("APPE " + target, io.BytesIO(b"x"))).startswith(why[:3])
    assert tree(server.root) == before


def test_links_out_of_the_root_are_refused_both_ways(server, ftp, tmp_path):
    outside = tmp_path / "outside"
    outside.write_bytes(b"secret")
    subvol = os.path.join(server.root, "$DATA01", "ZDEMO")
    os.makedirs(subvol, exist_ok=True)
    os.symlink(outside, os.path.join(subvol, "LEAK"))
    os.symlink(tmp_path / "planted", os.path.join(subvol, "DROP"))
    assert refusal(lambda: retr(ftp, "LEAK")).startswith("550")
    assert refusal(lambda: store(ftp, "LEAK", b"overwritten")).startswith("553")
    assert refusal(lambda: store(ftp, "DROP", b"new file")).startswith("553")
    assert outside.read_bytes() == b"secret" and not (tmp_path / "planted").exists()
    store(ftp, "INSIDE", b"fine")                   # an ordinary file still goes through
    assert retr(ftp, "INSIDE") == b"fine"


def test_store_into_other_subvolume_and_volume(server, ftp):
    store(ftp, "zsrc.prog,101")
    ftp.cwd("ZSRC")
    assert codes(ftp) == {"PROG": 101}
    assert refusal(lambda: ftp.cwd("$NEWVOL.X")).startswith("550")


# --- names are case-insensitive for every command

def test_case_insensitive_lookup(ftp):
    store(ftp, "progc", b"int x;\n", ascii=True)
    assert list(codes(ftp)) == ["PROGC"]
    assert retr(ftp, "ProgC") == b"int x;\r\n"
    assert ftp.size("PROGC,101") == 8
    assert ftp.sendcmd("MDTM pRoGc").startswith("213 ")
    ftp.rename("progc", "Newname")
    assert list(codes(ftp)) == ["NEWNAME"]
    ftp.delete("newNAME")
    assert codes(ftp) == {}
    assert refusal(lambda: ftp.delete("NEWNAME")) == "550 File $DATA01.ZDEMO.NEWNAME does not exist."
    assert refusal(lambda: retr(ftp, "NEWNAME")).startswith("550")


# --- rename and append

def test_rename_keeps_code_and_refuses_bad_targets(ftp):
    store(ftp, "OBJ,700")
    store(ftp, "OTHER")
    assert refusal(lambda: ftp.rename("OBJ", "9BAD")).startswith("553 File name \"9BAD\"")
    assert refusal(lambda: ftp.rename("OBJ", "other")) == \
        "550 File $DATA01.ZDEMO.OTHER already exists."
    assert refusal(lambda: ftp.rename("OBJ", "$DATA02.X.OBJ")).startswith("553")
    assert refusal(lambda: ftp.rename("MISSING", "X")).startswith("550")
    assert codes(ftp) == {"OBJ": 700, "OTHER": 0}
    ftp.rename("OBJ", "ZKEEP.OBJ2")
    assert codes(ftp) == {"OTHER": 0}
    ftp.cwd("ZKEEP")
    assert codes(ftp) == {"OBJ2": 700}
    ftp.rename("OBJ2", "OBJ2,100")   # a code in the new name alters the code
    assert codes(ftp) == {"OBJ2": 100}


def test_append_keeps_code_and_refuses_another(ftp):
    store(ftp, "LOG,180", b"one\n")
    ftp.storbinary("APPE LOG", io.BytesIO(b"two\n"))
    assert retr(ftp, "LOG") == b"one\ntwo\n"
    assert codes(ftp) == {"LOG": 180}
    assert refusal(lambda: ftp.storbinary("APPE LOG,101", io.BytesIO(b"x"))).startswith("550")
    ftp.storbinary("APPE FRESH", io.BytesIO(b"x"))
    assert codes(ftp) == {"LOG": 180, "FRESH": 0}


# --- catalog

def test_codes_survive_a_restart(start_server, tmp_path):
    server = start_server()
    ftp = server.connect()
    store(ftp, "KEEP,800")
    store(ftp, "TEXT", ascii=True)
    ftp.quit()
    assert server.stop() == 0
    catalog_dir = os.path.join(server.root, "$DATA01", "ZDEMO")
    assert [n for n in os.listdir(catalog_dir) if n.endswith(".tmp")] == []
    with open(os.path.join(catalog_dir, ".catalog.json")) as f:
        assert {k: v["code"] for k, v in json.load(f).items()} == {"KEEP": 800, "TEXT": 101}
    again = start_server(root=server.root).connect()
    assert codes(again) == {"KEEP": 800, "TEXT": 101}
    again.quit()


def test_file_without_catalog_entry_lists_with_code_zero(server, ftp):
    folder = os.path.join(server.root, "$DATA01", "ZDEMO")
    os.makedirs(folder, exist_ok=True)
    for name in ("MANUAL", "lower", "TOO_LONG1"):
        with open(os.path.join(folder, name), "w") as f:
            f.write("x")
    assert codes(ftp) == {"MANUAL": 0}


def test_damaged_catalog_is_set_aside_not_overwritten(server, ftp):
    store(ftp, "OLD,100")
    folder = os.path.join(server.root, "$DATA01", "ZDEMO")
    with open(os.path.join(folder, ".catalog.json"), "w") as f:
        f.write('{"OLD": {"code": 1')
    assert codes(ftp) == {"OLD": 0}
    store(ftp, "NEW,700")
    assert codes(ftp) == {"OLD": 0, "NEW": 700}
    with open(os.path.join(folder, ".catalog.json.bad")) as f:
        assert f.read() == '{"OLD": {"code": 1'


# --- listing options, data connections

def test_summary_option(start_server):
    ftp = start_server("--summary").connect()
    store(ftp, "A", b"12345")
    lines = listing(ftp)
    assert len(lines) == 3 and lines[-1] == "Total of 1 file(s), 5 byte(s)"
    ftp.quit()


def test_empty_subvolume_lists_as_file_not_found_or_heading_alone(start_server):
    ftp = start_server().connect()
    ftp.cwd("NEW")
    assert refusal(lambda: listing(ftp)) == "550 File not found"
    assert refusal(lambda: ftp.nlst()) == "550 File not found"
    ftp.quit()
    ftp = start_server("--empty-heading").connect()
    ftp.cwd("NEW")
    assert len(listing(ftp)) == 1
    ftp.quit()


def test_list_templates_and_nlst(ftp):
    for name in ("PROGC", "PROGH", "UTILC"):
        store(ftp, name)
    assert [l.split()[0] for l in listing(ftp, "PROG*")[1:]] == ["PROGC", "PROGH"]
    assert [l.split()[0] for l in listing(ftp, "$DATA01.ZDEMO")[1:]] == ["PROGC", "PROGH", "UTILC"]
    assert ftp.nlst() == ["PROGC", "PROGH", "UTILC"]
    status = ftp.sendcmd("STAT prog*").splitlines()
    assert status[0] == "213-Status of $DATA01.ZDEMO:" and len(status) == 5
    assert refusal(lambda: listing(ftp, "NOSUCH")).startswith("550 No file matches")


def test_active_passive_and_extended_passive(ftp):
    store(ftp, "F", b"abc")
    ftp.set_pasv(False)
    assert retr(ftp, "F") == b"abc"
    ftp.set_pasv(True)
    assert retr(ftp, "F") == b"abc"
    port = ftplib.parse229(ftp.sendcmd("EPSV"), ftp.sock.getpeername())[1]
    with socket.create_connection(("127.0.0.1", port), timeout=10) as data:
        assert ftp.sendcmd("RETR F")[:3] in ("125", "150")
        assert data.recv(10) == b"abc"
    assert ftp.voidresp().startswith("226")


# --- demo content

def test_demo_fills_an_empty_root_only(start_server, tmp_path):
    ftp = start_server("--demo").connect()
    found = codes(ftp)
    assert {"PROGC", "PROGH", "MAKEFILE"} <= set(found)
    assert {101, 100, 700, 800, 0, 180} <= set(found.values())
    assert len(found) >= 30
    assert retr(ftp, "PROGC").startswith(b"/*")
    # One log is being written: its line is marked open, and its size still follows the code.
    [log] = [line for line in listing(ftp) if line.startswith("LOG30")]
    assert log[11] == "O" and int(log[13:].split()[1]) == ftp.size("LOG30")
    ftp.delete("PROGC")
    ftp.quit()
    again = start_server("--demo", root=tmp_path / "root").connect()
    assert "PROGC" not in codes(again)
    again.quit()


# --- what a real host does

def stor_reply(ftp, command, path):
    """The final reply to a binary upload of the file at `path`, which the server may cut short."""
    ftp.voidcmd("TYPE I")
    with ftp.transfercmd(command) as conn, open(path, "rb") as f:
        try:
            conn.sendfile(f)
        except OSError:
            pass    # the server ended the data connection early
    try:
        return ftp.voidresp()
    except ftplib.Error as err:
        return str(err)


def test_extents_limit_a_file_and_stor_can_name_larger_ones(server, ftp):
    # The defaults hold (4 + 28 * 977) pages of 2048 bytes; sparse files keep this cheap.
    limit = (4 + 28 * 977) * 2048
    big = os.path.join(server.root, "big")
    with open(big, "wb") as f:
        f.truncate(60 << 20)
    assert stor_reply(ftp, "STOR BIG", big) == "452 Write error on $DATA01.ZDEMO.BIG: File Full (error 45)."
    assert ftp.size("BIG") == limit          # what fitted stays, as on the host
    assert stor_reply(ftp, "STOR BIG,0,42,42,978", big).startswith("226")
    assert ftp.size("BIG") == 60 << 20
    # An append keeps the extents the file was made with; a new STOR takes the defaults.
    store(ftp, "SMALL,100,1,1,2", b"x" * 4096)
    assert stor_reply(ftp, "APPE SMALL", big).endswith("(error 45).")
    assert ftp.size("SMALL") == 4096


def test_quote_oss_and_guardian_switch_what_pwd_answers(start_server):
    ftp = start_server("--start-oss").connect()
    assert ftp.sendcmd("PWD") == '257 "/G/data01/zdemo" is the current directory.'
    assert ftp.sendcmd("GUARDIAN") == "200 Guardian file system in use."
    assert ftp.pwd() == "$DATA01.ZDEMO"
    ftp.sendcmd("OSS")
    assert ftp.pwd() == "/G/data01/zdemo"
    ftp.quit()
    ftp = start_server("--oss-only").connect()
    assert refusal(lambda: ftp.sendcmd("GUARDIAN")).startswith("502 ")
    assert ftp.pwd() == "/G/data01/zdemo"
    ftp.quit()


def test_site_help_names_the_hosts_own_commands(ftp):
    reply = ftp.sendcmd("SITE HELP")
    assert reply.startswith("214-") and reply.endswith("214 End of SITE HELP.")
    assert " GUARDIAN " in reply and " OSS " in reply and "maxextents" in reply
