#!/usr/bin/env bash
# Checks what the bash completion offers at a few points of a command line.
#   check-completion.sh COMPLETION_SCRIPT
set -u
source "$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && mkdir sub && touch a.mot B.S notes.txt

failures=0
# expect LINE WORD... : the completion of LINE (cursor at its end) is exactly
# the WORDs, in any order.
expect() {
    local line="$1"; shift
    COMP_LINE="$line"; COMP_POINT=${#line}
    _h8sxwriter
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$#" -eq 0 ] && want=""
    [ "${#COMPREPLY[@]}" -eq 0 ] && got=""
    if [ "$got" != "$want" ]; then
        echo "FAIL: '$line' offers [$got], expected [$want]"
        failures=$((failures + 1))
    fi
}

expect "h8sxwriter " write erase monitor reset list rates sim
expect "h8sxwriter mo" monitor
expect "h8sxwriter --port /dev/ttyUSB0 w" write
expect "h8sxwriter --" --port --sim --help --version
expect "h8sxwriter write --" --verify --verify=read --verify=sum --port --sim --format --address --verbose --quiet --json --all --rate --clock --skip-blank --help
expect "h8sxwriter write --verify=" sum read
expect "h8sxwriter write --rate f" fastest
expect "h8sxwriter erase --" --port --sim --quiet --help
expect "h8sxwriter rates --" --clock --help
expect "h8sxwriter --sim monitor --" --reset --seconds --eol --port --sim --help
expect "h8sxwriter monitor --eol " cr lf crlf
expect "h8sxwriter sim --p" --pty
expect "h8sxwriter write " a.mot B.S sub
expect "h8sxwriter write --port n" notes.txt
expect "h8sxwriter monitor --seconds " 
expect "h8sxwriter reset " 
# After '=' bash's current word starts behind it: the offers start there too.
expect "h8sxwriter --sim=fl" flash= flash-size=
expect "h8sxwriter write --sim=erase-time=1s,no" 1s,no-e6 1s,no-reply-block=
expect "h8sxwriter write --port=a" a.mot
[ "$failures" -eq 0 ] && echo "completion: all cases pass"
exit $((failures > 0))
