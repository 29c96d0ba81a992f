#!/bin/sh
# Each folder includes only the folders and Qt modules its row allows (and its own headers):
# the lower layers no window code nor higher layers, the windows only the sibling windows listed.
root=${1:?source folder}
qt=${2:?Qt header folder (the one holding QtCore/)}
cd "$root" || exit 2
# folder (or files)        may include
allowed='
core                        QtCore
net                         QtCore core
engine                      QtCore core net
archive                     QtCore core engine
# The remote control speaks HTTP and WebSocket above the engine (and the archives, for their
# contents), with no windows; it sets the speed limit of the sockets as the options do.
rpc                         QtCore QtNetwork QtWebSockets core net engine archive
update                      QtCore core engine archive updater
updater                     QtCore QtWidgets core
updater/updater_arguments.* QtCore core
updater/update_copy.*       QtCore core
integration                 QtCore QtDBus core engine
cli                         QtCore QtNetwork core engine net rpc
launcher                    QtCore QtDBus core
ui/language                 QtCore QtGui QtWidgets core
ui/tray                     QtCore QtGui QtWidgets ui/language
ui/prompts                  QtCore QtGui QtWidgets core engine ui/language
ui/preview                  QtCore QtGui QtWidgets QtMultimedia core ui/language
ui/download_window          QtCore QtGui QtWidgets core engine ui/language
ui/options                  QtCore QtGui QtWidgets core engine integration ui/language
ui/main_window              QtCore QtGui QtWidgets core engine update ui/language ui/preview ui/prompts
# The basket answers the tray menu (QuenbyCatcher) and shows the tray icons.
ui/basket                   QtCore QtGui QtWidgets core ui/tray
# The ZIP preview reaches the session behind a download window (preview_wiring.cpp).
ui/zip_preview              QtCore QtGui QtWidgets core engine archive ui/language ui/download_window
'
# Qt headers named by class (<QWidget>) belong to the module whose folder holds them.
map=$(mktemp) || exit 2
trap 'rm -f "$map"' EXIT
(cd "$qt" && for m in Qt*; do ls "$m" | sed -n "s/^Q[A-Za-z]*$/$m &/p"; done) >"$map"
[ -s "$map" ] || { echo "no Qt headers under $qt"; exit 2; }
projects='app|archive|cli|core|engine|integration|launcher|net|rpc|ui|update|updater'
bad=$(echo "$allowed" | grep -v -e '^#' -e '^$' | while read -r files may; do
  # shellcheck disable=SC2086 # the file globs of the table expand here
  grep -rn -E '^ *# *include *[<"]' $files | awk -v files="$files" -v may="$may" -v p="^($projects)/" '
    NR == FNR { module[$2] = $1; next }
    FNR == 1 {
      n = split(may, m, " "); for (i = 1; i <= n; i++) ok[m[i]] = 1
      split(files, f, "/"); ok[f[1] (f[1] == "ui" ? "/" f[2] : "")] = 1  # its own headers
    }
    {
      name = $0; sub(/^[^<"]*[<"]/, "", name); sub(/[>"].*/, "", name)
      if (name ~ p) { split(name, part, "/"); what = part[1] (part[1] == "ui" ? "/" part[2] : "") }
      else if (name ~ /^Qt[A-Za-z]+\//) { what = name; sub(/\/.*/, "", what) }
      else if (name in module) what = module[name]
      else if (name ~ /^Q[A-Za-z]+$/) what = "an unknown Qt header"
      else next
      if (!(what in ok)) print $0 "   <- " what
    }' "$map" -
done | sort -u)
if [ -n "$bad" ]; then
  echo "an include its folder may not use (see the table in tests/layering_check.sh):"
  echo "$bad"
  exit 1
fi
echo "layering: every include of $(echo "$allowed" | grep -c '^[a-z]') folders is on its allow-list"
