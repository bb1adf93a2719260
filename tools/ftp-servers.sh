#!/usr/bin/env bash
# Prepares the real FTP servers the interoperability tests and the benchmark start:
#   - vsftpd installed as a Debian package (tools/dev.sh lists it);
#   - proftpd-core and proftpd-mod-proxy unpacked into a folder of their own, because
#     proftpd and vsftpd conflict as packages (no maintainer scripts run there);
#   - a system user the servers log in with PAM (vsftpd) or their own password file.
# Runs as root; does nothing that is already done. The folder can be moved with
# ZARVEL_FTP_SERVERS_DIR (the test launchers read the same variable).
set -euo pipefail

dest=${ZARVEL_FTP_SERVERS_DIR:-/opt/zarvel-ftp-servers}
user=zarvelftp
password=zarvel-ftp-test
home=/var/lib/$user

if [ "$(id -u)" -ne 0 ]; then
    echo "ftp-servers.sh: needs root (creates a test user, unpacks servers into $dest)" >&2
    exit 1
fi

# Libraries the unpacked proftpd and mod_proxy link against (no package pulls them in).
libs=(libmemcached11 libmemcachedutil2 libpcre2-posix3 libhiredis0.14 libsodium23 libsqlite3-0
      libacl1 libcap2 libidn2-0 libssl3 libpam0g)
missing=()
for p in "${libs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

if [ ! -x "$dest/usr/sbin/proftpd" ] || [ ! -f "$dest/usr/lib/proftpd/mod_proxy.so" ]; then
    work=$(mktemp -d)
    chmod 755 "$work"   # apt's download user must be able to write here
    (cd "$work" && apt-get download -q proftpd-core proftpd-mod-proxy) || {
        apt-get update -q
        (cd "$work" && apt-get download -q proftpd-core proftpd-mod-proxy)
    }
    mkdir -p "$dest"
    for deb in "$work"/*.deb; do dpkg -x "$deb" "$dest"; done
    rm -rf "$work"
fi
"$dest/usr/sbin/proftpd" --version >/dev/null

if ! id "$user" >/dev/null 2>&1; then
    useradd --system --home-dir "$home" --create-home --shell /bin/bash "$user"
fi
mkdir -p "$home"
echo "$user:$password" | chpasswd
