# Debian packages the build and the tests need, and a way to install the missing ones.
# Sourced by tools/run and tools/test.

BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6"
TEST_PACKAGES="googletest libgtest-dev python3 dante-server dbus-daemon nginx"

# ensure_packages PKG...: installs what is missing (as root), or says what to install.
ensure_packages() {
    missing=""
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $pkg"
        fi
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Brenloft needs these Debian packages:$missing" >&2
        echo "Install them with: sudo apt-get install$missing" >&2
        return 1
    fi
    echo "Installing Debian packages:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 || return 1
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >&2
}
BENCH_PACKAGES="python3 nginx curl wget2 aria2 axel time"
SCREENSHOT_PACKAGES="python3 nginx xvfb openbox"
