# in_turn N WORD...: the words, begun at word (N mod count), so each round of a benchmark
# starts with another tool. A run goes faster the later it comes in a round (by up to a
# sixth for a 512 MiB upload here), and a fixed order favours the tools at its end.
in_turn() {
    local n=$1
    shift
    local -a words=("$@")
    local i
    for i in "${!words[@]}"; do echo "${words[$(((i + n) % ${#words[@]}))]}"; done
}
