#!/bin/sh
# Puts a test folder's Node scripts and the packages its lock file pins (puppeteer-core for the
# browser tests, an aria2 client for the remote control's) into a folder of the build tree; run
# by ctest before the tests that need them. Installs again only when the lock file changed.
#   install_node_packages.sh SOURCE_FOLDER DESTINATION_FOLDER
set -eu
src=${1:?source folder}
dest=${2:?destination folder}
mkdir -p "$dest"
cp "$src/package.json" "$src/package-lock.json" "$src"/*.mjs "$dest/"
stamp="$dest/node_modules/.brenloft-package-lock.json"
if [ -f "$stamp" ] && cmp -s "$src/package-lock.json" "$stamp"; then
    echo "node packages up to date in $dest"
    exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "npm is missing: install the Debian packages nodejs and npm" >&2
    exit 1
fi
cd "$dest"
# No install scripts: nothing is downloaded beyond the packages (the browsers are Debian's).
npm ci --no-audit --no-fund --ignore-scripts
cp package-lock.json "$stamp"
echo "node packages installed in $dest"
