#!/usr/bin/env bash
# The README quotes in double quotes only texts the program shows, a number standing for %d. Each
# must still be a string in the program's code or resources, so the README never quotes a message
# the program no longer shows.   tests/readme_messages.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"
# Lines joined first: a quotation may be wrapped over two.
quoted=$(tr -s '\n ' '  ' <README.md | grep -o '"[^"]*"' | sed 's/[0-9][0-9]*/%d/g' || true)
[ -n "$quoted" ] || { echo "README.md quotes nothing"; exit 1; }
rc=0
while read -r text; do
    grep -qF -- "$text" front/*.cpp progress/*.cpp resources/*.rc resources/ids.h ||
        { echo "README.md quotes $text, which is not in the program"; rc=1; }
done <<<"$quoted"
exit $rc
