#!/usr/bin/env bash
# Checks zelkctl's bash completion in bash itself: each row is the words typed so far (the
# last one is being completed) and the completions bash is to offer, sorted; a row whose
# expectation starts with "some:" only needs that word among them.
#
#   scripts/check-completion.sh [COMPLETION-FILE]
set -u
script=$(realpath "${1:-$(dirname "$0")/../packaging/zelkctl.bash-completion}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir folder
touch a.txt b.bin

failed=0
# complete WORDBREAKS WORD...: what bash offers for the last word.
complete_words() {
    local breaks=$1
    shift
    bash -c 'COMP_WORDBREAKS=$1; shift; source "$0" || exit 1
             COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _zelkctl
             printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' "$script" "$breaks" "$@"
}

# check NAME EXPECTED WORD...: with "=" among the word breaks, as bash has it by default.
check() {
    check_with $' \t\n"\'><=;|&(:' "$@"
}

check_with() {
    local breaks=$1 name=$2 expected=$3
    shift 3
    local offered
    offered=$(complete_words "$breaks" "$@")
    offered=${offered% }
    if [[ $expected == some:* ]]; then
        [[ " $offered " == *" ${expected#some:} "* ]] && return
    elif [ "$offered" = "$expected" ]; then
        return
    fi
    echo "check-completion: $name: \"$*\" offers \"$offered\", not \"$expected\"" >&2
    failed=1
}

commands="check detect diff help ports read version write"
check "the commands" "$commands" zelkctl ""
check "a command begun" "read" zelkctl re
check "options before the command" "$commands" zelkctl -s T1b -p COM3 ""
check "after help" "$commands" zelkctl help ""
check "an option begun" "--verbose --verify --version" zelkctl read --ver
check "the series" "K8 M5 R3 T1a T1b T2a T2b" zelkctl read -s ""
check "the series begun" "T1a T1b" zelkctl read --series T1
check "the series after =" "T2a T2b" zelkctl read --series = T2
check "the series right after =" "K8 M5 R3 T1a T1b T2a T2b" zelkctl read --series =
check_with $' \t\n' "the series, = not a break" "--series=T1a --series=T1b" zelkctl read --series=T1
check "the rates" "115200 1200 19200" zelkctl read -b 1
check "the formats" "7E1 7N1 7N2 7O1" zelkctl read -f 7
check "the ID lengths" "1 2" zelkctl write --ids ""
check "the COM ports" "COM1 COM10 COM11 COM12" zelkctl read -p COM1
check "the devices" "some:/dev/tty" zelkctl read --port /dev/tt
check "a rate list, without what it holds" "9600,19200,115200 9600,19200,1200" zelkctl detect --rates 9600,19200,1
check "a format list" "8N1,8E1 8N1,8N2 8N1,8O1" zelkctl detect --formats 8N1,8
check "a setting file" "a.txt folder" zelkctl write -s T1b ""
check "the command, after a valued =" "$commands" zelkctl --series = T1b ""
check "the output" "a.txt folder" zelkctl read -o ""
check "the log takes any file" "a.txt b.bin folder" zelkctl write a.txt --log ""
check "nothing after read" "" zelkctl read ""

[ $failed -eq 0 ] && echo "check-completion: every row completes as expected"
exit $failed
