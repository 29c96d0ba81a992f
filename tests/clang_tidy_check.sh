#!/bin/sh
# The production sources keep the names .clang-tidy describes and no function over 80 lines.
root=${1:?source folder}
build=${2:?build folder holding compile_commands.json}
folders='app|archive|cli|core|engine|integration|launcher|net|rpc|ui|update|updater'
out=$(mktemp) || exit 2
trap 'rm -f "$out"' EXIT
# clang-tidy picks the headers whose warnings count.
run-clang-tidy -quiet -j 2 -p "$build" -checks='-*,readability-identifier-naming,readability-function-size' \
    -header-filter="^$root/($folders)/" "^$root/($folders)/.*\.cpp$" >"$out" 2>&1
status=$?
# A header's warning comes once per file that includes it.
found=$(sed 's/\x1b\[[0-9;]*m//g' "$out" | grep -E '(warning|error):' | sort -u)
if [ $status -ne 0 ] || [ -n "$found" ]; then
  echo "$found"
  [ -n "$found" ] || tail -20 "$out"
  echo "clang-tidy: $(echo "$found" | grep -c .) findings (run-clang-tidy exit $status)"
  exit 1
fi
echo "clang-tidy: names and function sizes hold in every production file"
