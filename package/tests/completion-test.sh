#!/usr/bin/env bash
# Checks the bash completion of kyvo-cli: commands, options per command,
# option values, port paths and FTDI numbers (from a stand-in kyvo-cli).
#   completion-test.sh PATH/TO/kyvo-cli-completion
set -u
source "$1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/files/sub"
cat >"$work/bin/kyvo-cli" <<'STUB'
#!/bin/sh
[ "$1" = ports ] && printf 'ftdi 1: Kyvo reader (KY01)\nftdi 2: Kyvo reader (KY02)\nbluetooth: /dev/rfcomm0\n'
STUB
chmod +x "$work/bin/kyvo-cli"
PATH="$work/bin:$PATH"
touch "$work/files/a.tsv" "$work/files/b.TSV" "$work/files/c.txt" "$work/files/cfg.bin" \
      "$work/files/ttyFake0"

failures=0
# expect "<command line, the last word being completed>" "<expected words, sorted, space-separated>"
expect() {
    local line=$1 want=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    _kyvo_cli kyvo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]:-}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ')
    got=${got% }
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line'"
        echo "   want: $want"
        echo "    got: $got"
        failures=$((failures + 1))
    fi
}

expect "kyvo-cli " "archive clock export format identify lis measure ports qc read report sync"
expect "kyvo-cli --port /dev/pts/3 sync --" "--archive --baud --port --trace --verbose --watch"
expect "kyvo-cli --port /dev/pts/3 i" "identify"
expect "kyvo-cli --" "--archive --baud --ftdi --help --layout --port --trace --verbose --version"
expect "kyvo-cli --port $work/files/tty" "$work/files/ttyFake0"
expect "kyvo-cli --ftdi " "1 2"
expect "kyvo-cli --layout s" "short"
expect "kyvo-cli --baud 38" "38400"
expect "kyvo-cli --port /dev/pts/3 read --" "--archive --baud --ftdi --full --layout --out --overwrite --port --trace --verbose"
expect "kyvo-cli --port /dev/pts/3 measure --r" "--rfid"
expect "kyvo-cli --port /dev/pts/3 measure --config $work/files/" "$work/files/cfg.bin $work/files/sub"
expect "kyvo-cli --port /dev/pts/3 read --out $work/files/" \
       "$work/files/a.tsv $work/files/b.TSV $work/files/sub"
expect "kyvo-cli --port /dev/pts/3 clock --set " "now"
expect "kyvo-cli --port /dev/pts/3 format --" "--archive --baud --ftdi --layout --port --trace --verbose --yes"
expect "kyvo-cli --port /dev/pts/3 --trace $work/files/c" "$work/files/c.txt $work/files/cfg.bin"
expect "kyvo-cli --trace t.log --port /dev/pts/3 i" "identify"
expect "kyvo-cli --port /dev/pts/3 identify x" ""
expect "kyvo-cli export $work/files/" "$work/files/a.tsv $work/files/b.TSV $work/files/sub"
expect "kyvo-cli export in.tsv --" "--lines --out --select --to"
expect "kyvo-cli export in.tsv --to " "csv json"
expect "kyvo-cli report in.tsv --" "--out --select"
expect "kyvo-cli archive " "check comment copy history import list patient remove report role"
expect "kyvo-cli --archive sqlite:a.sqlite archive l" "list"
expect "kyvo-cli archive list --" "--device --format --from --lot --removed --role --test --text --to"
expect "kyvo-cli archive list --role " "control patient"
expect "kyvo-cli archive role 12 " "control patient"
expect "kyvo-cli archive list --format " "csv json tsv"
expect "kyvo-cli archive list --to " ""
expect "kyvo-cli archive remove 3 --" "--reason"
expect "kyvo-cli lis " "preview resend send status"
expect "kyvo-cli lis send --" "--attempts --lis --since"
expect "kyvo-cli --lis lis.lab:2575 lis s" "send status"
expect "kyvo-cli lis send --lis " ""
expect "kyvo-cli lis preview 3 --" "--lis"
expect "kyvo-cli archive copy --" "--to"
expect "kyvo-cli archive import $work/files/" "$work/files/a.tsv $work/files/b.TSV $work/files/sub"
expect "kyvo-cli archive report --out $work/files/" "$work/files/sub"
expect "kyvo-cli qc " "chart check material"
expect "kyvo-cli qc material " "add list retire"
expect "kyvo-cli qc material add CRP-L1 --" \
       "--expires --level --lot --mean --opened --patient-id-prefix --result --sd --test"
expect "kyvo-cli qc material add CRP-L1 --test CRP --level " "1 2 3"
expect "kyvo-cli qc material add CRP-L1 --test CRP --mean " ""
expect "kyvo-cli qc check --" "--format --material"
expect "kyvo-cli qc check --format " "json text"
expect "kyvo-cli qc chart CRP-L1 --" "--out"
touch "$work/files/lj.png" "$work/files/lj.PDF"
expect "kyvo-cli qc chart CRP-L1 --out $work/files/" "$work/files/lj.PDF $work/files/lj.png $work/files/sub"

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "completion: all cases passed"
