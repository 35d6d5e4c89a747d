#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1
cmake --preset mingw >/dev/null || exit 1
cmake --build --preset mingw || exit 1

source scripts/wine-env.sh
started_xvfb=0
if [ -z "${DISPLAY:-}" ]; then started_xvfb=1; fi
veldmoor_warm_wine
ctest --preset mingw "$@"
rc=$?
if [ -z "${VELDMOOR_KEEP_WINE:-}" ]; then
  wineserver -k 2>/dev/null || true
  [ $started_xvfb = 1 ] && pkill -f "Xvfb $DISPLAY" 2>/dev/null
fi
exit $rc
