#!/usr/bin/env bash
# Fails when a file under src/ includes from a higher layer, or two folders include each other.
# The layers, lowest first; a folder may include its own files and any folder before it.
set -uo pipefail
cd "$(dirname "$0")/.."
layers=(image codec compress state files jobs ui shell online view crop dialogs app cli)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

status=0
declare -A edge
for dir in src/*/; do
  folder=$(basename "$dir")
  if [ -z "${rank[$folder]+x}" ]; then
    echo "check-layers: src/$folder has no place in the layer order"
    status=1
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
    [ "$target" = "$folder" ] && continue
    edge[$folder,$target]=1
    if [ -z "${rank[$target]+x}" ]; then
      echo "check-layers: $file:$line includes from unknown folder $target"
      status=1
    elif [ "${rank[$target]}" -gt "${rank[$folder]}" ]; then
      echo "check-layers: $file:$line: $folder includes $target, which is above it"
      status=1
    fi
  done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include "[^/"]*/' "$dir"* 2>/dev/null)
done

for key in "${!edge[@]}"; do
  a=${key%,*} b=${key#*,}
  if [[ "$a" < "$b" ]] && [ -n "${edge[$b,$a]+x}" ]; then
    echo "check-layers: $a and $b include each other"
    status=1
  fi
done

[ $status = 0 ] && echo "check-layers: ${#layers[@]} layers, no upward include"
exit $status
