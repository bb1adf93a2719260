#!/usr/bin/env bash
# Sets up a Debian 12 machine for Zarvel (installs what is missing), builds it, then
#   start       starts Zarvel against the demo NonStop-style server (extra arguments go to Zarvel)
#   test        runs every test
#   test-asan   builds with address and undefined-behaviour sanitizers and runs the tests there
#   bench       builds and runs the benchmarks
#   package     builds the Debian package build-package/zarvel_<version>-<revision>_<arch>.deb
#               from debian/ and checks it (files, lintian, hardening)
#   screenshot  remakes the README's picture of the connected main window (docs/main-window.png)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
action=${1:-start}
shift || true

# What building Zarvel and running it against the demo server needs (qtkeychain keeps saved
# passwords in the desktop keyring; OpenSSL for FTP over TLS, also for the demo server's TLS
# and its certificates).
run_packages=(cmake g++ ninja-build ccache qt6-base-dev libgl-dev qtkeychain-qt6-dev libssl-dev python3
              python3-pyftpdlib python3-openssl openssl)
# What the tests, the fuzzer and the benchmarks need on top (xvfb and x11-utils: the window
# titles are read as a desktop reads them); the real FTP servers come from
# tools/ftp-servers.sh, unpacked, so no FTP service is ever started on the machine; the
# keyring tests start their own session bus and Secret Service.
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev python3-pytest curl lftp clang
               libclang-rt-14-dev desktop-file-utils appstream librsvg2-bin imagemagick man-db
               mandoc binutils dbus-daemon gnome-keyring libsecret-tools xvfb x11-utils)
# What making and checking the Debian package needs; its build dependencies come from
# debian/control. The package check runs the install test's checks on it too.
package_packages=(dpkg-dev debhelper lintian devscripts "${test_packages[@]}")
# What the README's screenshot needs: a virtual X server and a way to photograph a window.
screenshot_packages=(xvfb x11-utils imagemagick)

# install_missing PACKAGE...
install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# build DIR [extra cmake options]
build() {
    local dir=$1; shift
    local options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    [ "${CI:-}" = true ] && options+=(-DZARVEL_WERROR=ON)
    if command -v ccache >/dev/null; then
        options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
    fi
    cmake -S "$root" -B "$dir" "${options[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

run_tests() {
    local dir=$1; shift
    (cd "$dir" && ctest --output-on-failure -j "$(nproc)" "$@")
}

# The test set-up: packages, then the real FTP servers the interoperability tests start.
prepare_tests() {
    install_missing "${run_packages[@]}" "${test_packages[@]}"
    if [ "$(id -u)" -eq 0 ]; then bash "$root/tools/ftp-servers.sh"; else sudo bash "$root/tools/ftp-servers.sh"; fi
}

case "$action" in
    start)
        install_missing "${run_packages[@]}"
        build "$root/build" -DZARVEL_TESTS=OFF -DZARVEL_BENCH=OFF
        if [ -x "$root/tools/guardian-ftpd/demo.sh" ]; then
            exec "$root/tools/guardian-ftpd/demo.sh" "$root/build/src/app/zarvel" "$@"
        fi
        exec "$root/build/src/app/zarvel" "$@"
        ;;
    test)
        prepare_tests
        build "$root/build" -DZARVEL_TESTS=ON -DZARVEL_BENCH=ON
        run_tests "$root/build" "$@"
        ;;
    test-asan)
        prepare_tests
        build "$root/build-asan" -DZARVEL_TESTS=ON -DZARVEL_SANITIZE=ON -DZARVEL_BENCH=OFF
        ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
            run_tests "$root/build-asan" -LE server "$@"
        ;;
    bench)
        prepare_tests
        build "$root/build" -DZARVEL_TESTS=ON -DZARVEL_BENCH=ON
        for b in "$root"/bench/*.sh; do [ -e "$b" ] && bash "$b" "$root/build"; done
        ;;
    package)
        install_missing "${run_packages[@]}" "${package_packages[@]}"
        out=$root/build-package
        rm -rf "$out"
        mkdir -p "$out/zarvel"
        # A clean tree of the checkout's files (uncommitted changes included), so nothing of
        # an earlier build reaches the package; dpkg-buildpackage leaves its results beside it.
        (cd "$root" && git ls-files -z --cached --others --exclude-standard \
            | while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done \
            | tar -c --null -T -) | tar -x -C "$out/zarvel"
        if ! (cd "$out/zarvel" && dpkg-checkbuilddeps); then
            if [ "$(id -u)" -eq 0 ]; then apt-get build-dep -y -q "$out/zarvel"; else sudo apt-get build-dep -y -q "$out/zarvel"; fi
        fi
        # ccache's compiler names, when there, make a rebuild of the same tree quick.
        [ -d /usr/lib/ccache ] && export PATH=/usr/lib/ccache:$PATH CCACHE_BASEDIR=$out/zarvel
        (cd "$out/zarvel" && dpkg-buildpackage -us -uc -b)
        changes=$(ls "$out"/zarvel_*.changes)
        bash "$root/tests/install/check_install.sh" "$out/zarvel/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)" \
            "$root" "$changes"
        ls "$out"/zarvel_*.deb
        ;;
    screenshot)
        install_missing "${run_packages[@]}" "${screenshot_packages[@]}"
        build "$root/build" -DZARVEL_TESTS=OFF -DZARVEL_BENCH=OFF
        bash "$root/tools/readme-screenshot.sh" "$root/build/src/app/zarvel" "$@"
        ;;
    *)
        echo "usage: $0 start|test|test-asan|bench|package|screenshot" >&2
        exit 2
        ;;
esac
