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
home='$DATA01.ZDEMO'
# A fresh password per run, handed over in the environment: argv shows in every user's
# process list, and a fixed password would let any local user into the demo's files.
password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')

work=$(mktemp -d "${TMPDIR:-/tmp}/guardian-ftpd.XXXXXX")
root=${GUARDIAN_FTPD_ROOT:-$work/root}
. "$here/start_server.sh"

cleanup() {
    guardian_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The session runs encrypted: a throwaway authority and a certificate for 127.0.0.1, made
# for this run; only this Zarvel process trusts that authority (SSL_CERT_FILE).
/usr/bin/python3 "$here/../tls/make_certs.py" "$work/tls"
GUARDIAN_FTPD_PASSWORD=$password guardian_start "$work" --root "$root" --user "$user" --home "$home" --demo \
    --tls "$work/tls/server.pem" "$work/tls/server.key"
port=$guardian_port
echo "demo.sh: NonStop-style FTP server on 127.0.0.1:$port (user $user, a password made for this run)"

# Blanks separate Zarvel's keywords; none of these values holds a blank or a comma.
status=0
ZARVEL_PASSWORD=$password SSL_CERT_FILE="$work/tls/ca.pem" "$zarvel" HostName 127.0.0.1 HostPort "$port" UserID "$user" \
    InitialSubvol "$home" AutoConnect "$@" || status=$?
exit "$status"
