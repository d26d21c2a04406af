# Sourced by install-deps and install-clang. install_missing PACKAGE... installs those of the
# Debian packages that are not installed yet, running apt-get as root, through sudo when not
# root already.

install_missing()
{
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi

    # sudo resets the environment, so the variable is passed through env, after sudo.
    local as_root=(env DEBIAN_FRONTEND=noninteractive)
    if [ "$(id -u)" -ne 0 ]; then
        as_root=(sudo "${as_root[@]}")
    fi
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update
    "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
