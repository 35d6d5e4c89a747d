#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1
cmake --preset mingw >/dev/null || exit 1
cmake --build --preset mingw || exit 1

source scripts/wine-env.sh
veldmoor_warm_wine
ctest --preset mingw "$@"
rc=$?
if [ -z "${VELDMOOR_KEEP_WINE:-}" ]; then
  wineserver -k 2>/dev/null || true
  [ -n "${VELDMOOR_XVFB_PID:-}" ] && kill "$VELDMOOR_XVFB_PID" 2>/dev/null
fi
exit $rc
