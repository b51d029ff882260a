#!/usr/bin/env bash
# Fails when a source file includes a header from a folder above its own:
# every '#include "dir/..."' must point down the layers of scripts/layers.txt.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

declare -A below=()  # folder -> the folders right below it
while read -r folder rest; do
    [[ -z "$folder" || "$folder" == \#* ]] && continue
    below[$folder]="$rest"
done <"$ROOT/scripts/layers.txt"

# Every folder a folder may reach, itself included.
reach() {
    local seen=" $1 " todo=("$1") next
    while ((${#todo[@]})); do
        next="${todo[0]}"; todo=("${todo[@]:1}")
        for b in ${below[$next]}; do
            [[ "$seen" == *" $b "* ]] && continue
            seen+="$b "; todo+=("$b")
        done
    done
    echo "$seen"
}

bad=0
for folder in "${!below[@]}"; do
    allowed="$(reach "$folder")"
    while IFS=: read -r file line dir; do
        [ -n "${below[$dir]+x}" ] || continue  # not a layer folder (a system header, a test's own)
        [[ "$allowed" == *" $dir "* ]] && continue
        echo "layers: $file:$line includes $dir/, which is above $folder/ (scripts/layers.txt)"
        bad=1
    done < <(cd "$ROOT" && grep -rnoE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"/]+/' \
                 --include='*.h' --include='*.cpp' --include='*.c' --include='*.rc' "$folder" 2>/dev/null |
             sed -E 's#^([^:]+):([0-9]+):.*"([^"/]+)/$#\1:\2:\3#')
done
[ $bad -eq 0 ] && echo "layers: every include points down ($(grep -cvE '^\s*(#|$)' "$ROOT/scripts/layers.txt") folders)"
exit $bad
