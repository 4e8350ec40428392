#!/bin/sh
# Checks that every command and every option that the program's --help texts
# name appears in the manual page and in the bash completion, so that neither
# falls behind when the command line grows.
#   check-docs.sh EXECUTABLE MANPAGE COMPLETION
set -u
exe=$1 man=$2 completion=$3

help=$("$exe" --help) || { echo "FAIL: $exe --help"; exit 1; }
# The commands: the first word of each line of the "Commands:" block.
commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/{/^  [a-z]/{s/^  \([a-z][a-z-]*\).*/\1/;p}}')
[ -n "$commands" ] || { echo "FAIL: no commands found in --help"; exit 1; }

texts=$help
for c in $commands; do
    t=$("$exe" "$c" --help) || { echo "FAIL: $exe $c --help"; exit 1; }
    texts="$texts
$t"
done
options=$(printf '%s\n' "$texts" | grep -o -e '--[a-z][a-z0-9-]*' -e '[[:space:][]-[a-zA-Z]\b' | tr -d ' [' | sort -u)

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
# In the manual page's source a '-' of an option is written '\-'.
escaped() { printf '%s' "$1" | sed 's/-/\\\\-/g'; }
for c in $commands; do
    grep -q "^\.TP\$" "$man" && grep -A1 '^\.TP$' "$man" | grep -q "^\.B[IR]* *\"*$c\b" \
        || fail "command '$c' has no entry in $man"
    grep -qw -e "$c" "$completion" || fail "command '$c' is not in $completion"
done
for o in $options; do
    grep -q -e "$(escaped "$o")\b" "$man" || fail "option '$o' is not in $man"
    grep -q -e "\(^\|[[:space:]\"]\)$o\b" "$completion" || fail "option '$o' is not in $completion"
done
[ "$failures" -eq 0 ] && echo "documented: commands" $commands "; options" $options
exit $((failures > 0))
