#!/usr/bin/env bash
# Checks that every folder under src/ includes only itself and the layers
# below it. Lists each offending include and fails if there is one.
#   usage: tools/check_layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# What each layer may include besides itself.
# libtorv is the public headers (include/libtorv), which the api layer
# implements and the programs use. Three of them are the ground every layer
# stands on: libtorv/result.h (the one way to fail), libtorv/types.h (the
# values the functions take and give) and libtorv/limits.h (how large a file
# read may be), which include nothing of ours but each other. cli holds what the programs share (text for the terminal);
# windows holds the programs' resources.
ground="libtorv/result.h libtorv/types.h libtorv/limits.h"
declare -A allowed=(
    [io]=""
    [codec]="io"
    [image]="io"
    [format]="image codec io"
    [pack]="format codec image io"
    [api]="libtorv pack format codec image io"
    [project]="libtorv pack format codec image io"
    [cli]=""
    [torv]="cli libtorv format codec image io"
    [torv_pack]="cli libtorv format image io"
    [torv_project]="cli libtorv format io"
    [windows]=""
    [web]="libtorv"
)

status=0
for folder in src/*/; do
    layer=$(basename "$folder")
    if [ -z "${allowed[$layer]+set}" ]; then
        echo "src/$layer: not a known layer (add it to $0)"
        status=1
        continue
    fi
    while IFS=: read -r file line text; do
        included=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
        header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$text")
        if [[ " $ground " == *" $header "* ]]; then
            continue
        fi
        if [ "$included" != "$layer" ] && [[ " ${allowed[$layer]} " != *" $included "* ]]; then
            echo "$file:$line: $layer may not include $included"
            status=1
        fi
    done < <(grep -Hn '^#include "[^"]*/' "$folder"* || true)
done
# The ground includes nothing of ours but itself.
for header in $ground; do
    while IFS= read -r text; do
        included=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$text")
        if [[ " $ground " != *" $included "* ]]; then
            echo "include/$header: includes $included, but the ground stands on nothing"
            status=1
        fi
    done < <(grep '^#include "' "include/$header" || true)
done
[ $status -eq 0 ] && echo "layers: every include goes downwards"
exit $status
