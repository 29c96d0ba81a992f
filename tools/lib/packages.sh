# Debian packages the build and the tests need, and a way to install the missing ones.
# Sourced by tools/run and tools/test.

BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6 libssl-dev libzip-dev qt6-multimedia-dev qt6-image-formats-plugins gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav librsvg2-bin qt6-translations-l10n qt6-websockets-dev libproxy-dev"
# libFuzzer comes with clang's runtime libraries.
FUZZ_PACKAGES="clang libclang-rt-14-dev"
TEST_PACKAGES="aria2 clang-format clang-tidy googletest libgtest-dev python3 dante-server microsocks dbus-daemon nginx vsftpd python3-pyftpdlib openssl tinyproxy zip unzip chromium firefox-esr gstreamer1.0-tools desktop-file-utils appstream libxml2-utils lintian dpkg-dev fakeroot file libproxy1-plugin-webkit xvfb dunst xdg-utils"
# The browser tests drive the browsers with puppeteer-core (installed by the tests into the
# build tree) on Node. A Node that came with the machine is used as it is; Debian's otherwise.
NODE_PACKAGES="nodejs npm"

# ensure_node: installs Node and npm when either command is missing.
ensure_node() {
    if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
        return 0
    fi
    # shellcheck disable=SC2086
    ensure_packages $NODE_PACKAGES
}

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
    # Servers such as nginx and vsftpd are only run by the tests and benchmarks, on loopback:
    # their packages must not start a system daemon (vsftpd's would listen on port 21). A
    # policy-rc.d that answers 101 forbids that; one already there is left as it is.
    policy=/usr/sbin/policy-rc.d
    own_policy=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\n# Temporary, while Brenloft installs packages.\nexit 101\n' >"$policy"
        chmod 755 "$policy"
        own_policy=1
    fi
    install_status=0
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >&2 || install_status=$?
    [ -n "$own_policy" ] && rm -f "$policy"
    return $install_status
}
BENCH_PACKAGES="python3 nginx curl wget2 aria2 axel time vsftpd openssl"
SCREENSHOT_PACKAGES="python3 nginx xvfb openbox trayer gstreamer1.0-tools"
# What tools/package needs to build and check the Debian package.
PACKAGE_PACKAGES="dpkg-dev fakeroot file lintian desktop-file-utils appstream libxml2-utils"
