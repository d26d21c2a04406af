# Sourced by the tests of ztroi's man page and completion.

# The options that ztroi --help lists, one per line, sorted. Options are the lines that start
# with two spaces and a dash.
help_options()
{
    "$1" --help | grep -E '^  -' | grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort
}

# The options of ztroi's option table (printed by ZTROI_OPTIONS), one per line, sorted.
table_options()
{
    "$1" | cut -f1 | sort
}

# The options of the table that take a value, each with its syntax after a tab, sorted.
table_values()
{
    "$1" | awk -F '\t' '$2 != ""' | sort
}
