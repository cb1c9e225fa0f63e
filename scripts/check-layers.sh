#!/usr/bin/env bash
# Checks that the layers point one way, folder by folder, as the README's layout table
# says. Each line below is a folder and the folders its files may include from; a file
# belongs to the longest folder that holds it. Only runtime/ and tools/zelkctl/ may include
# a Qt header. Prints each breach; exit 1 if any.
set -u
cd "$(dirname "$0")/.."

rules=(
    "core/            core/ runtime/serial/ runtime/timing/ runtime/files/"
    "window/          window/ core/ runtime/"
    "runtime/ui/      runtime/ui/ runtime/files/"
    "runtime/serial/  runtime/serial/ runtime/timing/ runtime/files/"
    "runtime/timing/  runtime/timing/"
    "runtime/files/   runtime/files/"
    "tools/zelkctl/   tools/zelkctl/ core/ runtime/serial/ runtime/timing/ runtime/files/"
    "tools/zelksim/   tools/zelksim/"
)
qt_allowed="runtime/ tools/zelkctl/"

status=0
breach() {
    echo "layer rule broken: $1"
    status=1
}

starts_with_any() {  # path, list of prefixes
    local prefix
    for prefix in $2; do
        [[ "$1" == "$prefix"* ]] && return 0
    done
    return 1
}

for rule in "${rules[@]}"; do
    read -r folder allowed <<<"$rule"
    for file in $(git ls-files "$folder" | grep -E '\.(cpp|h)$'); do
        # A file of a deeper folder with a rule of its own is checked by that rule.
        owner=""
        for other in "${rules[@]}"; do
            read -r candidate _ <<<"$other"
            if [[ "$file" == "$candidate"* && ${#candidate} -gt ${#owner} ]]; then
                owner=$candidate
            fi
        done
        [ "$owner" = "$folder" ] || continue
        if ! starts_with_any "$file" "$qt_allowed" &&
            grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
            breach "$file includes a Qt header"
        fi
        for path in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file"); do
            starts_with_any "$path" "$allowed" || breach "$file ($folder) includes $path"
        done
    done
done
# Every source file outside tests/ must fall under a rule.
for file in $(git ls-files '*.cpp' '*.h' | grep -v '^tests/'); do
    covered=false
    for rule in "${rules[@]}"; do
        read -r folder _ <<<"$rule"
        [[ "$file" == "$folder"* ]] && covered=true
    done
    $covered || breach "$file lies in no folder of the layout"
done
exit $status
