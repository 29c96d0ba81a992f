#!/bin/sh
# Every C++ file of the project is formatted as .clang-format says.
root=${1:?source folder}
cd "$root" || exit 2
files=$(find app archive cli core engine integration launcher net tests tools ui update updater \
    \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*' -not -path '*/regressions/*' | sort)
if ! clang-format --dry-run --Werror $files; then
  echo "run: clang-format -i FILE... (the files named above)"
  exit 1
fi
echo "clang-format: $(echo "$files" | wc -l) files formatted"
