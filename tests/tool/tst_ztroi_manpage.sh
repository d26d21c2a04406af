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

# The rendered page, without its bold and underlining (each a character and a backspace before
# the one shown).
rendered()
{
    mandoc -Tascii "$manpage" | sed 's/.\x08//g'
}

status=0
if ! difference=$(diff <(table_options "$options") <(man_options)); then
    echo "the option table (<) and $manpage (>) list different options:"
    echo "$difference"
    status=1
fi
if ! difference=$(diff <(table_options "$options") <(help_options "$ztroi")); then
    echo "the option table (<) and ztroi --help (>) list different options:"
    echo "$difference"
    status=1
fi
page=$(rendered)
while IFS=$'\t' read -r option syntax; do
    if ! grep -qF -- "$option $syntax" <<<"$page"; then
        echo "$manpage shows no \"$option $syntax\""
        status=1
    fi
done < <(table_values "$options" | grep -- "^--")
if ! mandoc -Tlint -W warning "$manpage"; then
    echo "mandoc finds faults in $manpage"
    status=1
fi
[ "$status" -eq 0 ] && echo "man page: $(man_options | wc -l) options, as in the option table"
exit "$status"
