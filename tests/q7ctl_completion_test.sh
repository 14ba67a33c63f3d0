#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sources q7ctl's bash completion and checks what it offers, word by word, as bash would ask.
#   q7ctl_completion_test.sh COMPLETION_FILE [Q7CTL]
# Parameter names come from a stand-in q7ctl (so the cases do not depend on the table's
# contents); with a real Q7CTL that knows `params`, its names are checked as well.
set -uo pipefail
completion=$1
real=${2-}
# shellcheck source=/dev/null
source "$completion" || { echo "cannot source $completion"; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/q7ctl" <<'STUB'
#!/bin/sh
[ "$1" = params ] || exit 2
printf 'name               unit  range\n'
printf 'main.eq.3.gain_db  dB    -15..15\n'
printf 'main.eq.3.freq_hz  Hz    20..20000\n'
printf 'rear.delay_ms      ms    0..50\n'
printf 'mic.volume         -     0..100\n'
STUB
printf '#!/bin/sh\necho "q7ctl: unknown command" >&2\nexit 2\n' >"$tmp/old-q7ctl"
chmod +x "$tmp/q7ctl" "$tmp/old-q7ctl"
mkdir "$tmp/files" "$tmp/files/sub"
touch "$tmp/files/living.q7M" "$tmp/files/old.R3v9" "$tmp/files/notes.txt"

passed=0
failed=0
# complete WORD... : the words of the line, the last one being completed; sets COMPREPLY.
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _q7ctl "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}
# expect "WANTED..." "UNWANTED..." WORD...
expect() {
    local want=$1 unwanted=$2
    shift 2
    complete_line "$@"
    local got=" ${COMPREPLY[*]-} " w ok=1
    for w in $want; do [[ $got == *" $w "* ]] || ok=0; done
    for w in $unwanted; do [[ $got == *" $w "* ]] && ok=0; done
    if ((ok)); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: '$*' offered [${COMPREPLY[*]-}]; wanted [$want], not [$unwanted]"
    fi
}
stub=$tmp/q7ctl

# Commands, sub-commands, options.
expect "devices info pull push mode levels biquad params get set eq help" "" "$stub" ""
expect "default dump diff" "load store" "$stub" mode d
expect "import export response fit" "" "$stub" eq ""
expect "-o --json" "--by-mode" "$stub" pull -
expect "--by-mode --dry-run --json" "--count" "$stub" push x.q7M --
expect "--count --json" "--by-mode" "$stub" levels --
expect "pull push" "mode" "$stub" help pu
expect "--version --verbose" "" "$stub" --ver
expect "--simulator --replay --trace --verbose" "" "$stub" --
expect "--target --range --bands --max-boost --cut-only --lock --base" "--dry-run" "$stub" eq fit m.txt --
# Global options and their values are skipped when finding the command.
expect "export" "import" "$stub" --trace t.trace --simulator = latency_us=1000 eq ex
expect "1 2 3 4" "" "$stub" --verbose mode load ""
# Bank names and numbers.
expect "rear reverb-a reverb-b" "main music" "$stub" eq fit m.txt --bank r
expect "music mic-a sub center rear main reverb-a echo-a mic-b reverb-b echo-b top 0 11" "" \
    "$stub" eq export a.q7M --bank ""
expect "flat" "" "$stub" eq fit m.txt --target fl
expect "flat" "house" "$stub" eq fit m.txt --target ""
# The room tuning: its options, the speakers, the house curve, a folder for the report.
expect "--speakers --positions --target --max-boost --dry-run --report" "--speaker --bank" \
    "$stub" --simulator tune --
expect "auto sub" "loopback" "$stub" tune --speakers ""
expect "flat house" "" "$stub" tune --target ""
# Parameter names, from `q7ctl params`; its heading is not a name.
expect "main.eq.3.gain_db main.eq.3.freq_hz" "rear.delay_ms name" "$stub" get main.eq.3.
expect "rear.delay_ms mic.volume main.eq.3.gain_db" "name" "$stub" get --file a.q7M ""
expect "rear.delay_ms=" "rear.delay_ms" "$stub" set rear.d
expect "" "rear.delay_ms= main.eq.3.gain_db=" "$stub" set rear.delay_ms = ""
# A q7ctl without the command offers no names and prints nothing.
out=$(
    complete_line "$tmp/old-q7ctl" get m 2>&1
    echo "${COMPREPLY[*]-}"
)
if [[ -z ${out//[[:space:]]/} ]]; then passed=$((passed + 1)); else
    failed=$((failed + 1))
    echo "FAIL: a q7ctl without params gave [$out]"
fi
# Files: mode files and folders where a mode file goes, anything where any file goes.
cd "$tmp/files"
expect "living.q7M old.R3v9 sub" "notes.txt" "$stub" push ""
expect "living.q7M" "notes.txt" "$stub" mode diff old.R3v9 ""
expect "living.q7M notes.txt" "" "$stub" pull -o ""
expect "notes.txt" "" "$stub" eq import n
expect "living.q7M" "notes.txt" "$stub" eq import f.txt --bank main --base ""
expect "sub" "living.q7M notes.txt" "$stub" tune --report ""
cd - >/dev/null

# The real program's names, once it has the command.
if [[ -n $real ]] && "$real" params >/dev/null 2>&1; then
    expect "main.eq.3.gain_db main.eq.3.freq_hz main.eq.3.q" "" "$real" get main.eq.3.
fi

echo "$passed passed, $failed failed"
((failed == 0))
