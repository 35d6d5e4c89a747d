#!/usr/bin/env bash
# Installs what is missing, builds Veldmoor and starts it under Wine with the given pictures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Veldmoor veldmoor-cli
source scripts/wine-env.sh
veldmoor_warm_wine
args=()
for a in "$@"; do
  if [ -e "$a" ]; then args+=("$(winepath -w "$(realpath "$a")")"); else args+=("$a"); fi
done
echo "Veldmoor is running on display $DISPLAY"
exec wine build/Veldmoor.exe "${args[@]}"
