# Helpers that keep the rounds of a benchmark fair to every tool.

# in_turn N WORD...: the words, begun at word (N mod count), so each round starts with another
# tool. A run goes faster the later it comes in a round (by up to a sixth for a 512 MiB upload
# here), and a fixed order favours the tools at its end.
in_turn() {
    local n=$1
    shift
    local -a words=("$@")
    local i
    for i in "${!words[@]}"; do echo "${words[$(((i + n) % ${#words[@]}))]}"; done
}

# forget_time_wait: drops the loopback connections left in TIME_WAIT by the runs before. A
# batch of 1,000 files leaves 2,000 of them for a minute; with several batches' worth the
# kernel's search for a free port cost every tool seconds of processor time per batch, so
# the tool that ran later in a round paid for the ones before it. Needs root; else a no-op.
forget_time_wait() {
    [ "$(id -u)" = 0 ] || return 0
    ss -K -tan state time-wait '( src 127.0.0.1 or src [::1] )' >/dev/null 2>&1 || true
}
