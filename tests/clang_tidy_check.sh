#!/bin/sh
# The production sources keep the names .clang-tidy describes and no function over 80 lines.
root=${1:?source folder}
build=${2:?build folder holding compile_commands.json}
# Being split by other hands right now (the socket module, the main window, and the download
# session's parts, whose long FtpProbe::reply and SegmentConnections::start wait for that
# rework); the lead drops this list once their work is merged.
splitting='net/socket_module.cpp net/socket_connect.cpp ui/main_window/
  engine/session/ftp_probe.cpp engine/session/segment_connections.cpp'
folders='app|archive|cli|core|engine|integration|launcher|net|ui|update|updater'
skip=$(echo $splitting | sed 's/\./\\./g; s/ /|/g')
out=$(mktemp) || exit 2
trap 'rm -f "$out"' EXIT
# Python's regular expressions pick the files (so the skipped ones can be left out); clang-tidy's
# own picks the headers whose warnings count.
run-clang-tidy -quiet -j 2 -p "$build" -checks='-*,readability-identifier-naming,readability-function-size' \
    -header-filter="^$root/($folders)/" "^$root/(?!$skip)($folders)/.*\.cpp$" >"$out" 2>&1
status=$?
# A header's warning comes once per file that includes it.
found=$(sed 's/\x1b\[[0-9;]*m//g' "$out" | grep -E '(warning|error):' | sort -u)
if [ $status -ne 0 ] || [ -n "$found" ]; then
  echo "$found"
  [ -n "$found" ] || tail -20 "$out"
  echo "clang-tidy: $(echo "$found" | grep -c .) findings (run-clang-tidy exit $status)"
  exit 1
fi
echo "clang-tidy: names and function sizes hold in every production file but" $splitting
