#!/usr/bin/env bash
# Sets up a Debian 12 machine for Zarvel (installs what is missing), builds it, then
#   start       starts Zarvel against the demo NonStop-style server (extra arguments go to Zarvel)
#   test        runs every test
#   test-asan   builds with address and undefined-behaviour sanitizers and runs the tests there
#   bench       builds and runs the benchmarks
#   package     builds the Debian package build-package/zarvel_<version>-1_<arch>.deb
#   screenshot  remakes the README's picture of the connected main window (docs/main-window.png)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
action=${1:-start}
shift || true

# What building Zarvel and running it against the demo server needs.
# FTP over TLS: OpenSSL to build against, and for the demo server's TLS and its certificates.
run_packages=(cmake g++ ninja-build ccache qt6-base-dev libgl-dev libssl-dev python3 python3-pyftpdlib
              python3-openssl openssl)
# What the tests, the fuzzer and the benchmarks need on top; the real FTP servers come from
# tools/ftp-servers.sh, unpacked, so no FTP service is ever started on the machine.
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev python3-pytest curl lftp clang
               libclang-rt-14-dev desktop-file-utils appstream librsvg2-bin imagemagick man-db)
# What making the Debian package needs on top of building (dpkg-shlibdeps and file find the
# libraries the program links); the install test makes one too.
package_packages=(dpkg-dev file)
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
    install_missing "${run_packages[@]}" "${test_packages[@]}" "${package_packages[@]}"
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
        build "$root/build-package" -DCMAKE_BUILD_TYPE=Release -DZARVEL_TESTS=OFF -DZARVEL_BENCH=OFF
        (cd "$root/build-package" && cpack -G DEB)
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
