#!/usr/bin/env bash
# The man page lists exactly the options of ztroi --help, and renders without a warning.
#
#   tst_ztroi_manpage.sh ZTROI MANPAGE
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/ztroi-options.sh"
ztroi=$1
manpage=$2

# The options of the man page are on the line after each .TP of its OPTIONS section.
man_options()
{
    sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$manpage" | grep -A1 '^\.TP' | grep -v -e '^\.TP' -e '^--$' \
        | sed 's/\\-/-/g' | grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort
}

status=0
if ! difference=$(diff <(help_options "$ztroi") <(man_options)); then
    echo "ztroi --help (<) and $manpage (>) list different options:"
    echo "$difference"
    status=1
fi
if ! mandoc -Tlint -W warning "$manpage"; then
    echo "mandoc finds faults in $manpage"
    status=1
fi
[ "$status" -eq 0 ] && echo "man page: $(man_options | wc -l) options, as in --help"
exit "$status"
