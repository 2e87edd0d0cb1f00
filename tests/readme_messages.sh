#!/usr/bin/env bash
# The README quotes in double quotes only texts the program shows, a number standing for %d. Each
# must still be a string in the program's code or resources, so the README never quotes a message
# the program no longer shows; nor the glossary of docs/code.md a name the code no longer has.
#   tests/readme_messages.sh [SOURCE_DIR]
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

# The glossary of docs/code.md: each name in its table must be a name in the code, whole; each word
# in italics one part of a name, split at capitals and underscores, accents aside. Comments aside.
code=$(sed -E 's|//.*||; s/(^|[[:space:]])# .*//' sweep/* front/* progress/* resources/*)
parts=$(grep -oE '\w+' <<<"$code" | sed -E 's/([a-z0-9])([A-Z])/\1_\2/g' |
    tr '[:upper:]_' '[:lower:]\n')
glossary=$(awk '/^## / { on = $0 == "## The Spanish names" } on' docs/code.md)
[ -n "$glossary" ] || { echo "docs/code.md has no glossary"; exit 1; }
while read -r name; do
    grep -qw -- "$name" <<<"$code" || { echo "docs/code.md explains $name, not in the code"; rc=1; }
done < <(grep '^| `' <<<"$glossary" | cut -d '|' -f 2 | tr -d '` ' | tr ',' '\n')
while read -r word; do
    grep -qx -- "$word" <<<"$parts" || { echo "docs/code.md explains $word, in no name"; rc=1; }
done < <(grep -o '\*[^* ]*\*' <<<"$glossary" | tr -d '*' |
    sed 's/á/a/g; s/é/e/g; s/í/i/g; s/ó/o/g; s/ú/u/g; s/ñ/n/g')
exit $rc
