# Sourced by the transfer benchmarks: a work folder cleaned up on exit, and one local FTP
# server to measure against (vsftpd when it can run here, pyftpdlib otherwise).
# Expects: root, py, user, password, servers; sets work, pids.
#   bench_work PREFIX              makes $work and the EXIT trap that stops every server
#   start_ftp_server DIR           starts vsftpd (or pyftpdlib) serving DIR: sets server, port
#                                  (vsftpd also offers FTP over TLS: sets tls_dir, its ca.pem)
#   start_pyftpd DIR [RATE]        starts pyftpdlib serving DIR: sets pyftpd_port
#   free_port, wait_banner PORT

bench_work() {
    work=$(mktemp -d "/tmp/$1-XXXXXX")
    chmod 755 "$work"
    pids=()
    trap bench_cleanup EXIT
    # an interrupted or killed run still goes through the EXIT trap
    trap 'exit 130' INT TERM HUP
}

bench_cleanup() {
    for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}

free_port() { "$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

wait_banner() {  # port
    for _ in $(seq 100); do
        if "$py" - "$1" <<'PY' 2>/dev/null; then return 0; fi
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2)
sys.exit(0 if s.recv(100).startswith(b"220") else 1)
PY
        sleep 0.1
    done
    echo "server on port $1 did not greet" >&2
    exit 1
}

# Called in this shell, never in a command substitution, so the server's pid reaches the
# cleanup.
start_pyftpd() {
    local dir=$1 rate=${2:-0} out=$work/pyftpd.$RANDOM
    setsid "$py" "$root/tests/support/pyftpd_server.py" --root "$dir" --user "$user" --password "$password" \
        --max-rate "$rate" >"$out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q 'listening on' "$out" 2>/dev/null && break
        sleep 0.1
    done
    pyftpd_port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$out")
    wait_banner "$pyftpd_port"
}

start_ftp_server() {
    local dir=$1
    if [ "$(id -u)" -ne 0 ] || ! id "$user" >/dev/null 2>&1 || [ ! -x "$servers/usr/sbin/vsftpd" ]; then
        server=pyftpdlib
        start_pyftpd "$dir"
        port=$pyftpd_port
        return
    fi
    server=vsftpd
    chown "$user" "$dir"
    mkdir -p "$work/empty"
    # FTP over TLS offered with a throwaway authority's certificate (tls_dir/ca.pem trusts it)
    tls_dir=$work/tls
    "$py" "$root/tools/tls/make_certs.py" "$tls_dir" >/dev/null
    port=$(free_port)
    cat >"$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
seccomp_sandbox=NO
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
local_root=$dir
chroot_local_user=YES
allow_writeable_chroot=YES
secure_chroot_dir=$work/empty
connect_from_port_20=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
pam_service_name=zarvel-test-ftp
xferlog_enable=NO
dirmessage_enable=NO
userlist_enable=NO
tcp_wrappers=NO
max_per_ip=0
max_clients=0
ssl_enable=YES
rsa_cert_file=$tls_dir/server.pem
rsa_private_key_file=$tls_dir/server.key
force_local_logins_ssl=NO
force_local_data_ssl=NO
ssl_ciphers=HIGH
CONF
    setsid "$servers/usr/sbin/vsftpd" "$work/vsftpd.conf" >"$work/vsftpd.log" 2>&1 &
    pids+=($!)
    wait_banner "$port"
}
