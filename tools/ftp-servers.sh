#!/usr/bin/env bash
# Prepares the real FTP servers the interoperability tests and the benchmark start:
#   - vsftpd, proftpd-core, proftpd-mod-proxy and proftpd-mod-crypto (mod_tls) unpacked into a folder of their own: they
#     conflict as packages, and unpacking runs no maintainer scripts, so no system FTP
#     service is started or enabled on the machine;
#   - a system user without a login shell that the servers log in, through a PAM service of
#     its own (vsftpd) or their own password file (proftpd).
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
      libacl1 libcap2 libidn2-0 libssl3 libpam0g libwrap0 libpam-modules)
missing=()
for p in "${libs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

packages=(vsftpd proftpd-core proftpd-mod-proxy proftpd-mod-crypto)
if [ ! -x "$dest/usr/sbin/vsftpd" ] || [ ! -x "$dest/usr/sbin/proftpd" ] || [ ! -f "$dest/usr/lib/proftpd/mod_proxy.so" ] ||
   [ ! -f "$dest/usr/lib/proftpd/mod_tls.so" ]; then
    work=$(mktemp -d)
    chmod 755 "$work"   # apt's download user must be able to write here
    (cd "$work" && apt-get download -q "${packages[@]}") || {
        apt-get update -q
        (cd "$work" && apt-get download -q "${packages[@]}")
    }
    mkdir -p "$dest"
    for deb in "$work"/*.deb; do dpkg -x "$deb" "$dest"; done
    rm -rf "$work"
fi
"$dest/usr/sbin/proftpd" --version >/dev/null
"$dest/usr/sbin/vsftpd" -v </dev/null >/dev/null 2>&1 || { echo "ftp-servers.sh: unpacked vsftpd does not run" >&2; exit 1; }

# vsftpd checks passwords through PAM; this service knows nothing but the password file.
cat > /etc/pam.d/zarvel-test-ftp <<'PAM'
auth    required pam_unix.so
account required pam_unix.so
session required pam_unix.so
PAM

if ! id "$user" >/dev/null 2>&1; then
    useradd --system --home-dir "$home" --create-home --shell /usr/sbin/nologin "$user"
fi
mkdir -p "$home"
usermod --shell /usr/sbin/nologin "$user"
echo "$user:$password" | chpasswd
