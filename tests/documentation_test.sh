#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The documentation cannot drift from the programs:
#   - every q7ctl command's usage line, as `q7ctl help COMMAND` prints it, stands in q7ctl(1),
#     every option a command's help names is described there, and every option the page names
#     is one q7ctl knows; the same for q7edit(1) and `q7edit --help`;
#   - every EXAMPLES line of both man pages and every q7ctl or q7edit line of the README's sh
#     blocks runs, in order, in one scratch folder, against the simulated amplifier (q7ctl gets
#     --simulator=state=FILE unless the line names an amplifier; q7edit renders its screens
#     with --screenshots and exits). Each must exit 0 (mode diff: 0 or 1, its answer).
# Usage: documentation_test.sh SOURCE_DIR MAN_DIR Q7CTL [Q7EDIT]
#   MAN_DIR holds the configured q7ctl.1 and q7edit.1.
set -uo pipefail
src=$(realpath "$1") mandir=$(realpath "$2") q7ctl=$(realpath "$3") q7edit=${4-}
[ -z "$q7edit" ] || q7edit=$(realpath "$q7edit")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0
ok() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}

# A man page as plain text: wide lines, no hyphenation, no overstrike, ASCII hyphens.
render() {
    preconv "$1" | groff -man -rHY=0 -rLL=400n -Tutf8 2>/dev/null | sed 's/.\x08//g' |
        sed 's/\xe2\x88\x92/-/g; s/\xe2\x80\x90/-/g'
}
render "$mandir/q7ctl.1" >"$work/q7ctl.txt"
[ -s "$work/q7ctl.txt" ] || fail "q7ctl.1 does not render"
# Blanks collapsed, so a usage line matches however the page spaces it.
tr -s ' ' <"$work/q7ctl.txt" >"$work/q7ctl.flat"

# ---- q7ctl(1) against q7ctl's help ----
"$q7ctl" help >"$work/help" || fail "q7ctl help exits $?"
mapfile -t commands < <(awk '/^commands:/ { on = 1; next } on && /^$/ { exit }
    on { sub(/^  /, ""); sub(/  .*/, ""); print }' "$work/help")
[ ${#commands[@]} -ge 20 ] || fail "q7ctl help lists ${#commands[@]} commands"
all_options=$(grep -o -- '--[a-z][a-z-]*' "$work/help")
for c in "${commands[@]}"; do
    # shellcheck disable=SC2086
    "$q7ctl" help $c >"$work/cmd" || fail "q7ctl help $c exits $?"
    usage=$(awk 'NR == 1 { u = $0; next } /^        / { sub(/^ +/, " "); u = u $0; next }
        { print u; exit }' "$work/cmd")
    usage=${usage#usage: q7ctl }
    usage=${usage#\[AMPLIFIER OPTIONS\] }
    if grep -qF -- "$usage" "$work/q7ctl.flat"; then ok; else fail "q7ctl.1 lacks the usage '$usage'"; fi
    for o in $(sed -n '/^options:/,/^$/p' "$work/cmd" | grep -o -- '--[a-z][a-z-]*'); do
        if grep -qF -- "$o" "$work/q7ctl.txt"; then ok; else fail "q7ctl.1 does not describe $o of $c"; fi
    done
    all_options+=$'\n'$(grep -o -- '--[a-z][a-z-]*' "$work/cmd")
done
# Other programs' options (udevadm's) are not q7ctl's.
for o in $(grep -v udevadm "$work/q7ctl.txt" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    if grep -qxF -- "$o" <<<"$all_options"; then ok; else fail "q7ctl.1 names $o, which q7ctl does not know"; fi
done

# ---- q7edit(1) against q7edit --help ----
render "$mandir/q7edit.1" >"$work/q7edit.txt"
if [ -n "$q7edit" ]; then
    "$q7edit" --help >"$work/edit-help" || fail "q7edit --help exits $?"
    for o in $(grep -o -- '--[a-z][a-z-]*' "$work/edit-help" | sort -u); do
        if grep -qF -- "$o" "$work/q7edit.txt"; then ok; else fail "q7edit.1 does not describe $o"; fi
    done
    for o in $(grep -v udevadm "$work/q7edit.txt" | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        # q7edit(1) also names q7ctl's options where it points to it.
        if grep -qF -- "$o" "$work/edit-help"; then ok; else fail "q7edit.1 names $o, which q7edit does not know"; fi
    done
else
    skipped=$((skipped + 1))
fi

# ---- the examples ----
examples() { # a rendered man page: the lines of its EXAMPLES section
    awk '/^EXAMPLES/ { on = 1; next } on && /^[A-Z]/ { exit } on && NF { sub(/^ +/, ""); print }' "$1"
}
{
    examples "$work/q7ctl.txt"
    examples "$work/q7edit.txt"
    # The README: the q7ctl and q7edit lines of its sh blocks.
    awk '/^```sh/ { on = 1; next } /^```/ { on = 0 } on' "$src/README.md" |
        sed 's/^ *//' | grep -E '^(q7ctl|q7edit)( |$)'
} >"$work/examples"
[ "$(wc -l <"$work/examples")" -ge 20 ] || fail "only $(wc -l <"$work/examples") examples found"

mkdir "$work/run" "$work/shots"
cd "$work/run" || exit 1
# What the examples read: a room measurement and REW's filter text.
awk 'BEGIN { for (f = 20; f <= 20000; f *= 1.02) printf "%.2f %.2f 0\n", f, 80 + 6 * exp(-((log(f / 60)) ^ 2) * 4) - 4 * exp(-((log(f / 180)) ^ 2) * 8) }' >room.txt
printf 'Filter Settings file\n\nFilter  1: ON  PK       Fc    45.0 Hz  Gain  -5.0 dB  Q  4.00\nFilter  2: ON  LP       Fc    90.0 Hz\n' >rew-filters.txt
cat >"$work/prelude" <<EOF
q7ctl() {
    case " \$* " in
    *" --simulator"* | *" --replay "*) "$q7ctl" "\$@" ;;
    *) "$q7ctl" --simulator=state="$work/amplifier.state" "\$@" ;;
    esac
}
q7edit() {
    QT_QPA_PLATFORM=offscreen "$q7edit" "\$@" --screenshots "$work/shots/\$RANDOM"
}
set -o pipefail
EOF
mkdir -m 700 "$work/runtime"
export HOME=$work/run XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/run/.config
n=0
while IFS= read -r line; do
    n=$((n + 1))
    if [[ $line == q7edit* && -z $q7edit ]]; then
        skipped=$((skipped + 1))
        continue
    fi
    # A hang guard: q7edit renders every screen twice, slow under the sanitizers on a busy machine.
    timeout 360 bash -c "source '$work/prelude'; $line" >"$work/out.$n" 2>"$work/err.$n" </dev/null
    status=$?
    if [ $status = 0 ] || { [[ $line == *"mode diff"* ]] && [ $status = 1 ]; }; then
        ok
    else
        fail "example '$line' exits $status: $(tail -n 3 "$work/err.$n")"
    fi
done <"$work/examples"

echo "$passed passed, $failed failed, $skipped skipped"
((failed == 0))
