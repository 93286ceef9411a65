# Shell helpers shared by the build and test scripts. Source it; don't run it.

# Installs the Debian packages among "$@" that are not installed yet.
need_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if [ -z "${VORLAX_APT_UPDATED:-}" ]; then
        $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
        export VORLAX_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Number of parallel jobs for builds and test runs.
jobs() { nproc 2>/dev/null || echo 2; }
