#!/bin/sh
# Puts the browser tests' driver and its Node packages (puppeteer-core, as the lock file pins
# it) into a folder of the build tree; run by ctest before the browser tests. Installs again
# only when the lock file changed.
#   install_driver.sh SOURCE_FOLDER DRIVER_FOLDER
set -eu
src=${1:?source folder}
dest=${2:?driver folder}
mkdir -p "$dest"
cp "$src/package.json" "$src/package-lock.json" "$src/driver.mjs" "$dest/"
stamp="$dest/node_modules/.brenloft-package-lock.json"
if [ -f "$stamp" ] && cmp -s "$src/package-lock.json" "$stamp"; then
    echo "browser driver packages up to date"
    exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "npm is missing: install the Debian packages nodejs and npm" >&2
    exit 1
fi
cd "$dest"
# No install scripts: puppeteer-core downloads nothing, and the browsers are Debian's.
npm ci --no-audit --no-fund --ignore-scripts
cp package-lock.json "$stamp"
echo "browser driver packages installed"
