# Sourced by the tests of ztroi's man page and completion: the options that ztroi --help lists,
# one per line, sorted. Options are the lines that start with two spaces and a dash.
help_options()
{
    "$1" --help | grep -E '^  -' | grep -oE -- '(^|[ ,])--?[a-zA-Z][a-zA-Z0-9-]*' | tr -d ' ,' | sort
}
