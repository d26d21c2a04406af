#!/usr/bin/env bash
# The man page lists exactly the options of ztroi's option table, each with the syntax of its
# value, and renders without a warning; --help lists the same options.
#
#   tst_ztroi_manpage.sh ZTROI ZTROI_OPTIONS MANPAGE
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/ztroi-options.sh"
ztroi=$1
options=$2
manpage=$3

# The options of the man page are on the line after each .TP of its OPTIONS section.
man_options()
{
    sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$manpage" | grep -A1 '^\.TP' | grep -v -e '^\.TP' -e '^--$' \
        | sed 's/\\-/-/g' | grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort
}

status=0
fail()
{
    printf '%s\n' "$@"
    status=1
}

# compare NAME COMMAND...: the option table's options against those that the command lists.
compare()
{
    local name=$1 difference
    shift
    difference=$(diff <(table_options "$options") <("$@")) \
        || fail "the option table (<) and $name (>) list different options:" "$difference"
}

compare "$manpage" man_options
compare "ztroi --help" help_options "$ztroi"
# The rendered page, without its bold and underlining (each a character and a backspace before
# the one shown).
page=$(mandoc -Tascii "$manpage" | sed 's/.\x08//g')
while IFS=$'\t' read -r option syntax; do
    grep -qF -- "$option $syntax" <<<"$page" || fail "$manpage shows no \"$option $syntax\""
done < <(table_values "$options" | grep -- "^--")
mandoc -Tlint -W warning "$manpage" || fail "mandoc finds faults in $manpage"
[ "$status" -eq 0 ] && echo "man page: $(man_options | wc -l) options, as in the option table"
exit "$status"
