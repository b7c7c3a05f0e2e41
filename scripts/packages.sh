# Shared by scripts/run, scripts/test and scripts/package: installs the Debian packages that are
# missing, then configures and builds into build/. Sourced, not run.

zelvaro_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# ensure_packages PKG...: install only what dpkg does not already report as installed.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

build_packages=(cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev
                qt6-translations-l10n libqt6svg6 unixodbc unixodbc-dev tdsodbc freetds-bin
                dpkg-dev file lintian desktop-file-utils appstream xvfb x11-utils xdotool ccache
                libssl-dev libxcb1-dev libacl1-dev acl)

# configure_zelvaro [BUILD_DIR [CMAKE_ARGS...]]
configure_zelvaro() {
    local dir=${1:-$zelvaro_root/build}
    shift || true
    cmake -S "$zelvaro_root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# build_zelvaro [BUILD_DIR [CMAKE_ARGS...]]: every target, the tests' included.
build_zelvaro() {
    local dir=${1:-$zelvaro_root/build}
    # Every target is built here, so CPack's "preinstall" (package_build) need not walk them all again.
    configure_zelvaro "$@" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
    cmake --build "$dir" -j "$(nproc)"
}

# build_zelvaro_targets BUILD_DIR TARGET...: only these targets and what they need, so that
# starting the window or making the packages does not wait for the tests to compile.
build_zelvaro_targets() {
    local dir=$1
    shift
    configure_zelvaro "$dir"
    cmake --build "$dir" -j "$(nproc)" --target "$@"
}
