#!/usr/bin/env bash
# Checks that the layers point one way:
#   runtime/  includes only runtime/ (it is the only code that sees Qt)
#   ui/       includes ui/ and runtime/
#   link/ params/ product/  include each other, ui/ and runtime/, never app/; their core
#             files (all but *_panel.*) include nothing of the window: no runtime/ui/, no
#             *_panel.h, no ui/panel.h, so that the command line can stand on them
#   app/      may include every layer
# and that no program file includes a Qt header. Prints each breach; exit 1 if any.
set -u
cd "$(dirname "$0")/.."

status=0
breach() {
    echo "layer rule broken: $1"
    status=1
}

includes() {  # file -> the quoted include paths it names
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$1"
}

for file in $(git ls-files 'app/*' 'ui/*' 'link/*' 'params/*' 'product/*' 'runtime/*' \
                  'tools/module_model*' | grep -E '\.(cpp|h)$'); do
    layer=${file%%/*}
    if [ "$layer" != runtime ] && grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
        breach "$file includes a Qt header; only runtime/ may"
    fi
    core=false
    case "$file" in
        link/*_panel.* | params/*_panel.* | product/*_panel.*) ;;
        link/* | params/* | product/*) core=true ;;
    esac
    for path in $(includes "$file"); do
        target=${path%%/*}
        case "$layer:$target" in
            runtime:runtime | ui:ui | ui:runtime | app:*) ;;
            tools:tools) ;;
            link:app | params:app | product:app) breach "$file includes $path" ;;
            link:* | params:* | product:*) ;;
            *) breach "$file includes $path" ;;
        esac
        if $core; then
            case "$path" in
                runtime/ui/* | *_panel.h | ui/panel.h) breach "$file is core but includes $path" ;;
            esac
        fi
    done
done
exit $status
