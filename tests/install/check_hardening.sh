#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The built program carries the hardening the build gives it by default: position-independent,
# full RELRO (a read-only relocation segment and immediate binding), the stack protector and
# fortified C library calls.
#   check_hardening.sh PROGRAM
set -euo pipefail
program=$1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

header=$(readelf --file-header --wide "$program")
dynamic=$(readelf --dynamic --wide "$program")
segments=$(readelf --program-headers --wide "$program")
symbols=$(readelf --dyn-syms --wide "$program" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')

grep -Eq 'Type: +DYN' <<<"$header" || fail "not position-independent (ELF type is not DYN)"
grep -Eq '\(FLAGS_1\).*\bPIE\b' <<<"$dynamic" || fail "no PIE flag in the dynamic section"
grep -Eq '^ +GNU_RELRO ' <<<"$segments" || fail "no GNU_RELRO segment (-z relro)"
grep -Eq '\(BIND_NOW\)|\(FLAGS\).*\bBIND_NOW\b|\(FLAGS_1\).*\bNOW\b' <<<"$dynamic" \
    || fail "symbols are bound lazily (no BIND_NOW: -z now)"
grep -qx '__stack_chk_fail' <<<"$symbols" || fail "no stack protector (__stack_chk_fail is not used)"
fortified=$(grep -E '^__[a-z_]+_chk$' <<<"$symbols" | grep -vx '__stack_chk_fail' || true)
[ -n "$fortified" ] || fail "no fortified C library call (no __*_chk function is used)"

if [ "$failures" -ne 0 ]; then
    echo "$failures hardening check(s) failed for $program" >&2
    exit 1
fi
echo "$program: PIE, full RELRO, stack protector, fortified calls ($(echo $fortified))"
