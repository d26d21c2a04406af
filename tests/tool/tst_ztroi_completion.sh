#!/usr/bin/env bash
# ztroi's bash completion: what it offers for the words typed so far.
#
#   tst_ztroi_completion.sh ZTROI ZTROI_OPTIONS COMPLETION
set -uo pipefail
export LC_ALL=C
source "$(dirname "$0")/ztroi-options.sh"
ztroi=$(realpath "$1")
options=$(realpath "$2")
completion=$3
source "$completion"

# The options after which the completion offers a value (the arms of its "case $prev"), sorted:
# after any other, it offers pictures.
completed_values()
{
    sed -n '/case \$prev in/,/esac/p' "$completion" | sed -e ':a' -e '/\\$/N; s/\\\n//; ta' \
        | grep -E '^ *-[^()]*\) *$' | tr -d ' )' | tr '|' '\n' | sort
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p 'sub dir' shots.jpg
touch a.jpg B.JPEG c.tif d.TIFF e.webp f.png g.gif h.bmp 'i j.png' notes.txt k.png.bak

# Outside of a completion compopt refuses to run; record what the function asks of it instead.
compopt()
{
    offered_options+="$*;"
}

# Completes the words (the last one is being typed) and prints the offers sorted, one a line.
complete_words()
{
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    offered_options=
    _ztroi
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

failures=0
fail()
{
    failures=$((failures + 1))
    echo "FAIL: $1"
    [ $# -lt 2 ] || printf '%s\n' "${@:2}"
}

# expect NAME EXPECTED WORD...: EXPECTED lists the offers separated by "|", sorted.
expect()
{
    local name=$1 expected=$2 actual
    shift 2
    actual=$(complete_words "$@" | paste -sd '|')
    [ "$actual" == "$expected" ] \
        || fail "$name: words ($*)" "  expected: $expected" "  actual:   $actual"
}

expect 'every option of the table after a dash' "$(table_options "$options" | paste -sd '|')" ztroi -
expect 'long options by prefix' '--hist-bins|--hist-blocks|--hist-min|--hist-threshold' \
    ztroi --hist
expect 'pictures of each format in either case, and folders' \
    'B.JPEG|a.jpg|c.tif|d.TIFF|e.webp|f.png|g.gif|h.bmp|i j.png|shots.jpg|sub dir' ztroi ''
expect 'method names with = after --weight' 'center=|contrast=' ztroi --weight c
expect 'method names after --disable' 'areas|center|contrast|histogram|sobel' ztroi --disable ''
expect 'folders only after --out' 'shots.jpg|sub dir' ztroi --out ''
expect 'folders after --out=, which bash splits' 'sub dir' ztroi --out = su
expect 'folders after -o' 'shots.jpg|sub dir' ztroi -o s
expect 'any file after --list' 'notes.txt' ztroi --list n
expect 'the formats of written crops' 'jpg|png|webp' ztroi --format ''
expect 'the two pixel weights' 'linear|threshold' ztroi --pixel-weight ''
expect 'the next of a list of formats' 'jpeg,png' ztroi --input-formats jpeg,p
expect 'nothing for a size' '' ztroi --size ''

# --weight NAME= goes on with the number: no space after the offer.
complete_words ztroi --weight sob >/dev/null
[[ $offered_options == *nospace* ]] || fail "--weight offers its names without -o nospace"

# Every option that takes a value, and no flag, has its own completion of that value.
if ! difference=$(diff <(table_values "$options" | cut -f1) <(completed_values)); then
    fail "the options with a value in the table (<) and in the completion's case (>):" "$difference"
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
