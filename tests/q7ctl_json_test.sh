#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every q7ctl command that prints data, with --json, prints JSON that a real parser (jq) reads:
# one document, or for levels one document a line (JSON Lines); names and files with quotes,
# backslashes, control characters and bytes that are not UTF-8 stay valid.
#   q7ctl_json_test.sh Q7CTL
set -uo pipefail
q7ctl=$(realpath "$1")
command -v jq >/dev/null || { echo "jq is missing (tools/bootstrap.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0
failed=0
sim=(--simulator=state="$work/amp.state")
# check DOCUMENTS ARGS...: the output parses, as exactly DOCUMENTS documents (0: one a line).
check() {
    local want=$1 status
    shift
    "$q7ctl" "$@" >out.json 2>err.txt
    status=$?
    if [ $status -gt 1 ] || ! jq -e . out.json >/dev/null 2>&1; then
        failed=$((failed + 1))
        echo "FAIL: q7ctl $* (exit $status): $(head -c 300 out.json) $(cat err.txt)"
        return
    fi
    local docs lines
    docs=$(jq -s length out.json)
    lines=$(wc -l <out.json)
    if { [ "$want" = 0 ] && [ "$docs" != "$lines" ]; } || { [ "$want" != 0 ] && [ "$docs" != "$want" ]; }; then
        failed=$((failed + 1))
        echo "FAIL: q7ctl $*: $docs documents on $lines lines"
        return
    fi
    passed=$((passed + 1))
}
"$q7ctl" mode new a.q7M && "$q7ctl" set mic.volume=30 main.eq.3.gain_db=-2 --file a.q7M -o b.q7M ||
    { echo "cannot make the mode files"; exit 1; }
printf 'Filter 1: ON PK Fc 100 Hz Gain -3.0 dB Q 1.41\nPreamp: "-6" dB \\ \x01 \xff\xfe\n' >filters.txt
awk 'BEGIN { for (f = 20; f <= 20000; f *= 1.05) printf "%.2f %.2f\n", f, 80 + (f > 100 && f < 200 ? 5 : 0) }' >room.txt

check 1 "${sim[@]}" devices --json
check 1 "${sim[@]}" info --json
check 1 "${sim[@]}" mode name 2 $'Kino "\\" \x01 影院' --json
check 1 "${sim[@]}" info --json
check 1 "${sim[@]}" pull --json
check 1 "${sim[@]}" pull
check 1 "${sim[@]}" push a.q7M --json
check 1 push a.q7M --dry-run --json
check 1 "${sim[@]}" mode load 2 --json
check 1 "${sim[@]}" mode store 3 --json
check 1 "${sim[@]}" mode default 4 --json
check 0 "${sim[@]}" levels --count 3 --json
check 1 "${sim[@]}" get --json
check 1 "${sim[@]}" get main.eq.3 --json
check 1 "${sim[@]}" set mic.volume=12 main.eq.3.gain_db=-4.55 --json
check 1 mode dump a.q7M --json
check 1 mode dump b.q7M
check 1 mode diff a.q7M b.q7M --json
check 1 mode diff a.q7M a.q7M --json
check 1 biquad 1 3 1000 1.41 --json
check 1 params --json
check 1 params main.eq --json
check 1 get --file a.q7M --json
check 1 set mic.volume=7 --file a.q7M -o c.q7M --json
check 1 eq import filters.txt --bank main --base a.q7M -o d.q7M --json
check 1 eq export d.q7M --bank main --json
check 1 eq response d.q7M --bank sub --json
check 1 eq fit room.txt --bank main --range 50-500 --bands 3 --json
# The values are what get prints.
if [ "$(jq '.params["mic.volume"]' < <("$q7ctl" mode dump b.q7M))" = 30 ] &&
    [ "$(jq -r '.[0].text' < <("$q7ctl" get main.eq.3.gain_db --file b.q7M --json))" = "-2 dB" ]; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    echo "FAIL: the dump and get disagree"
fi
echo "$passed passed, $failed failed"
((failed == 0))
