#!/usr/bin/env bash
# Starts the NonStop-style FTP server with sample subvolumes on a free loopback port,
# runs Zarvel connected to it over FTP over TLS, and stops the server when Zarvel exits.
#   demo.sh ZARVEL_BINARY [extra Zarvel keywords]
# The server's root is a temporary folder, removed at the end; set GUARDIAN_FTPD_ROOT
# to keep the files in a folder of your own between runs.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
zarvel=${1:?usage: demo.sh ZARVEL_BINARY [extra Zarvel keywords]}
shift

user=DEV.MGR
password=demo
home='$DATA01.ZDEMO'

work=$(mktemp -d "${TMPDIR:-/tmp}/guardian-ftpd.XXXXXX")
root=${GUARDIAN_FTPD_ROOT:-$work/root}
server_pid=

cleanup() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The session runs encrypted: a throwaway authority and a certificate for 127.0.0.1, made
# for this run; only this Zarvel process trusts that authority (SSL_CERT_FILE).
/usr/bin/python3 "$here/../tls/make_certs.py" "$work/tls"
/usr/bin/python3 "$here/guardian_ftpd.py" --root "$root" --port 0 --user "$user" \
    --password "$password" --home "$home" --demo --tls "$work/tls/server.pem" "$work/tls/server.key" \
    >"$work/stdout" 2>"$work/server.log" &
server_pid=$!

# The first line on stdout names the port.
port=
for _ in $(seq 100); do
    line=$(head -n 1 "$work/stdout" 2>/dev/null || true)
    case "$line" in
        "guardian-ftpd listening on 127.0.0.1:"*) port=${line##*:}; break ;;
    esac
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "demo.sh: the FTP server did not start:" >&2
    cat "$work/server.log" >&2
    exit 1
fi
echo "demo.sh: NonStop-style FTP server on 127.0.0.1:$port (user $user, password $password)"

# Blanks separate Zarvel's keywords; none of these values holds a blank or a comma.
status=0
SSL_CERT_FILE="$work/tls/ca.pem" "$zarvel" HostName 127.0.0.1 HostPort "$port" UserID "$user" Password "$password" \
    InitialSubvol "$home" AutoConnect "$@" || status=$?
exit "$status"
