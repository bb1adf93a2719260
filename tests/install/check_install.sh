#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a user gets from `cmake --install`, or from the Debian package when one is given: every
# file of the desktop program and nothing else; a menu entry and metainfo that validate and
# name each other, the program, the icon and the screenshot consistently; PNG icons that are
# the SVG's renderings; a manual page that renders cleanly and names every keyword; --help,
# --version and a command-line error without a display. For a package also: the Qt run-time
# packages in its dependencies, no maintainer scripts, no lintian error or warning, and every
# hardening check passed by the program.
#   check_install.sh BUILD_DIR SOURCE_DIR [PACKAGE.changes]
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
changes=${3:+$(realpath "$3")}
id=example.ondrik.zarvel
work=$(mktemp -d "${TMPDIR:-/tmp}/zarvel-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Under <tree>/usr, so the metainfo can be checked together with the menu entry it launches.
tree=$work/tree
root=$tree/usr
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# cache_value NAME: a value of the build's CMake cache.
cache_value() {
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}

version=$(cache_value CMAKE_PROJECT_VERSION)
homepage=$(cache_value CMAKE_PROJECT_HOMEPAGE_URL)
[ -n "$version" ] && [ -n "$homepage" ] || { echo "no project version or homepage in $build" >&2; exit 1; }

# --- Install into a temporary prefix, or unpack the package: exactly these files ----------
if [ -n "$changes" ]; then
    deb=$(dirname "$changes")/$(sed -n 's/^ [0-9a-f]\{64\} [0-9]* \(zarvel_[^ ]*\.deb\)$/\1/p' "$changes" | head -n 1)
    [ -f "$deb" ] || { echo "no zarvel package listed in $changes" >&2; exit 1; }
    dpkg-deb -x "$deb" "$tree"
else
    cmake --install "$build" --prefix "$root" >/dev/null
fi

expected=$work/expected
{
    printf '%s\n' bin/zarvel bin/zarvel-demo "share/applications/$id.desktop" \
        share/doc/zarvel/copyright "share/icons/hicolor/scalable/apps/$id.svg" \
        share/man/man1/zarvel.1.gz share/man/man1/zarvel-demo.1.gz \
        "share/metainfo/$id.metainfo.xml" share/zarvel/guardian-ftpd/demo.sh \
        share/zarvel/guardian-ftpd/start_server.sh share/zarvel/tls/make_certs.py
    for size in 16 22 24 32 48 64 128 256; do
        echo "share/icons/hicolor/${size}x${size}/apps/$id.png"
    done
    [ -z "$changes" ] || echo share/doc/zarvel/changelog.Debian.gz
    # The demo server: every module of it, without its tests and benchmark.
    for module in "$source"/tools/guardian-ftpd/guardian_*.py; do
        echo "share/zarvel/guardian-ftpd/$(basename "$module")"
    done
} | sort >"$expected"
(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/installed"
diff -u "$expected" "$work/installed" >&2 || fail "installed files differ from the list (- missing, + unexpected)"
grep -qx share/zarvel/guardian-ftpd/guardian_ftpd.py "$work/installed" || fail "demo server not installed"

for program in bin/zarvel bin/zarvel-demo share/zarvel/guardian-ftpd/demo.sh; do
    [ -x "$root/$program" ] || fail "$program is not executable"
done
# zarvel-demo finds the server relative to itself.
demo_dir=$(sed -n 's|^exec "$here/\(.*\)/demo.sh".*|\1|p' "$root/bin/zarvel-demo")
[ -n "$demo_dir" ] && [ -x "$root/bin/$demo_dir/demo.sh" ] || fail "zarvel-demo does not reach demo.sh ($demo_dir)"

# --- Menu entry and metainfo ---------------------------------------------------------------
desktop=$root/share/applications/$id.desktop
metainfo=$root/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate: $desktop"
# The one note left is cid-maybe-not-rdns: the validator does not know the reserved top-level
# domain "example" of the project's homepage, whose reverse the id is.
appstreamcli validate-tree --pedantic --no-net "$tree" >"$work/appstream.log" 2>&1 || fail "appstreamcli validate-tree: $metainfo"
if grep -E '^[EWIP]: ' "$work/appstream.log" | grep -v " cid-maybe-not-rdns $id\$" >&2; then
    fail "appstreamcli notes about $metainfo"
fi
grep -qx 'Categories=Network;FileTransfer;' "$desktop" || fail "menu categories are not Network;FileTransfer;"
# The window's class (the program's application name) matches it to the entry.
for key in Icon StartupWMClass; do
    grep -qx "$key=$id" "$desktop" || fail "menu entry's $key is not $id"
done
# Every Exec line starts a program of the package.
while read -r program; do
    [ -x "$root/bin/$program" ] || fail "menu entry starts '$program', which is not installed"
done < <(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")

# xml_text TAG: the text of each <TAG ...>text</TAG> of the metainfo, one a line.
xml_text() {
    sed -n "s|.*<$1[^>]*>\\([^<]*\\)</$1>.*|\\1|p" "$metainfo"
}
[ "$(xml_text id)" = "$id" ] || fail "metainfo id is not $id"
[ "$(xml_text launchable)" = "$id.desktop" ] || fail "metainfo launchable is not the menu entry"
[ "$(xml_text binary)" = zarvel ] || fail "metainfo does not provide the binary zarvel"
[ "$(xml_text project_license)" = GPL-3.0-or-later ] || fail "metainfo's project licence is not GPL-3.0-or-later"
grep -qx 'License: GPL-3+' "$root/share/doc/zarvel/copyright" || fail "copyright file does not state GPL-3+"
[ "$(xml_text url)" = "$homepage" ] || fail "metainfo homepage '$(xml_text url)' is not the project's '$homepage'"
latest_release=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$metainfo" | head -n 1)
[ "$latest_release" = "$version" ] || fail "metainfo's latest release $latest_release is not the version $version"
# Screenshots are files of the repository, published under the homepage.
screenshots=$(xml_text image)
[ -n "$screenshots" ] || fail "metainfo has no screenshot"
for url in $screenshots; do
    path=${url#"$homepage/raw/main/"}
    [ "$path" != "$url" ] || fail "screenshot $url is not under $homepage/raw/main/"
    [ -f "$source/$path" ] || fail "screenshot $url: no $path in the repository"
done

# --- Icons: the PNGs are the SVG's renderings at their folder's size ------------------------
svg=$root/share/icons/hicolor/scalable/apps/$id.svg
for png in "$root"/share/icons/hicolor/*x*/apps/"$id".png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    rsvg-convert --width "${size%x*}" --height "${size#*x}" "$svg" -o "$work/fresh.png"
    [ "$(identify -format '%wx%h' "$png")" = "$size" ] || fail "$png is not $size"
    # A few pixels of rounding are allowed between renderer versions, not another picture.
    differing=$(compare -metric AE -fuzz 5% "$png" "$work/fresh.png" null: 2>&1 || true)
    [ "${differing%% *}" -le 2 ] 2>/dev/null || fail "$png differs from the SVG in $differing pixels: run tools/render-icons.sh"
done

# --- --help and --version: standard output, exit 0, no display needed ----------------------
zarvel=$root/bin/zarvel
no_display=(env -i "PATH=$PATH" "HOME=$work" "XDG_CONFIG_HOME=$work/config")
"${no_display[@]}" "$zarvel" --version >"$work/out" 2>"$work/err" || fail "--version exit status $?"
[ "$(cat "$work/out")" = "zarvel $version" ] || fail "--version printed '$(cat "$work/out")'"
[ ! -s "$work/err" ] || fail "--version wrote to standard error: $(cat "$work/err")"
"${no_display[@]}" "$zarvel" --help >"$work/help" 2>"$work/err" || fail "--help exit status $?"
head -n 1 "$work/help" | grep -q '^Usage: zarvel ' || fail "--help does not start with the usage"
grep -qx "Settings file: $work/config/Ondrik/Zarvel.conf" "$work/help" || fail "--help does not name this user's settings file"
[ ! -s "$work/err" ] || fail "--help wrote to standard error: $(cat "$work/err")"
# Checked before the keyword parse: later words do not matter, and a failed write is no success.
"${no_display[@]}" "$zarvel" --help, HostName x >/dev/null 2>&1 || fail "--help followed by keywords failed"
if "${no_display[@]}" "$zarvel" --version >/dev/full 2>/dev/null; then fail "--version into a full disk reported success"; fi
# A wrong command line without a display: its message on standard error, status 2, and no
# settings folder made.
status=0
"${no_display[@]}" "$zarvel" HostName tandem1 Host >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 2 ] || fail "command-line error without a display: exit status $status"
[ "$(cat "$work/err")" = "zarvel: Invalid parameter: Host" ] || fail "command-line error without a display printed: $(cat "$work/err")"
# A quoted value holds its blanks; and a valid command line says in one line why it cannot run.
status=0
"${no_display[@]}" "$zarvel" Site "Tandem TLS" >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 2 ] && [ "$(cat "$work/err")" = "zarvel: Unknown site: Tandem TLS" ] \
    || fail "unknown site with a blank: status $status, printed: $(cat "$work/err")"
status=0
"${no_display[@]}" "$zarvel" HostName tandem1 >/dev/null 2>"$work/err" || status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q '^zarvel: Zarvel needs a graphical session' "$work/err" \
    || fail "valid command line without a display: status $status, printed: $(cat "$work/err")"
[ ! -e "$work/config" ] || fail "start-up made the settings folder $work/config"

# --- Manual page: renders without warnings, right version, every keyword -------------------
manual=$root/share/man/man1/zarvel.1.gz
[ "$(readlink "$root/share/man/man1/zarvel-demo.1.gz")" = zarvel.1.gz ] || fail "zarvel-demo.1.gz does not lead to zarvel.1.gz"
zcat "$manual" >"$work/zarvel.1"
MANWIDTH=80 man --warnings -E UTF-8 -l "$work/zarvel.1" >"$work/manual.txt" 2>"$work/man.err" || fail "man could not render the page"
[ ! -s "$work/man.err" ] || fail "man warnings: $(cat "$work/man.err")"
mandoc -T lint -W warning "$work/zarvel.1" >&2 || fail "mandoc -T lint: $manual"
grep -q "^\\.TH ZARVEL 1 .*\"Zarvel $version\"" "$work/zarvel.1" || fail "manual page is not of version $version"
keywords=$(sed -n 's/^  \([A-Z][A-Za-z]*\) .*/\1/p' "$work/help")
[ "$(echo "$keywords" | wc -l)" -ge 9 ] || fail "--help lists too few keywords: $keywords"
for keyword in $keywords; do
    grep -Eq "^\\.BI? $keyword( |\$)" "$work/zarvel.1" || fail "manual page does not describe $keyword"
done
for section in OPTIONS KEYWORDS 'COMMAND-LINE GRAMMAR' FILES DEMO; do
    grep -qx "$section" "$work/manual.txt" || fail "manual page has no $section section"
done
grep -q 'Ondrik/Zarvel.conf' "$work/manual.txt" || fail "manual page does not name the settings file"

# --- Debian package: Qt run-time dependencies, no maintainer scripts, lintian, hardening ----
if [ -n "$changes" ]; then
    [ "$(dpkg-deb -f "$deb" Package)" = zarvel ] || fail "package is not named zarvel"
    case $(dpkg-deb -f "$deb" Version) in "$version"-*) ;; *) fail "package version is not $version";; esac
    depends=$(dpkg-deb -f "$deb" Depends)
    for needed in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
        [[ ",$depends," =~ [,\ ]$needed[\ ,] ]] || fail "package does not depend on $needed: $depends"
    done
    # Nothing runs on installation or removal, and nothing is a configuration file.
    members=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')
    [ "$members" = "control md5sums " ] || fail "package control holds more than control and md5sums: $members"
    # Informational tags left: spelling-error-in-binary for "succesful", in a tool tip the
    # program shows as written, and "allready", which the scanner reads across two pieces of
    # "already" that the compiler stores as immediates.
    lintian --pedantic --display-info --display-experimental "$deb" "$changes" >"$work/lintian.log" 2>&1 || true
    cat "$work/lintian.log" >&2
    ! grep -Eq '^[EW]: ' "$work/lintian.log" || fail "lintian reports errors or warnings"
    # Every object is built with -fcf-protection, but Debian 12's C start files (Scrt1.o,
    # crti.o, crtn.o) carry no IBT/SHSTK note, so no program linked there gets the marking
    # that check looks for (/usr/bin/ls fails it too).
    hardening-check --nocfprotection "$root/bin/zarvel" >"$work/hardening.log" 2>&1 || {
        cat "$work/hardening.log" >&2
        fail "hardening-check: $root/bin/zarvel"
    }
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "${changes:-install}: files, menu entry, metainfo, icons, manual page, start without a display${changes:+, package, lintian, hardening}: all good"
