#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1
bash scripts/check-layers.sh || exit 1
cmake --preset mingw >/dev/null || exit 1
cmake --build --preset mingw || exit 1

# Native fuzz targets: every corpus and reproducer replayed, then each target fuzzed briefly.
bash scripts/fuzz.sh "${VELDMOOR_FUZZ_SECONDS:-15}"
fuzz_rc=$?

# The real-photo tests read ../shared/testdata unless VELDMOOR_TESTDATA names another folder.
testdata=${VELDMOOR_TESTDATA:-$root/../shared/testdata}
if [ -d "$testdata" ]; then
  export VELDMOOR_TESTDATA=$(cd "$testdata" && pwd)
elif [ "${VELDMOOR_REQUIRE_TESTDATA:-}" = 1 ]; then
  echo "test: the test pictures are required but missing at $testdata"
  exit 1
else
  export VELDMOOR_TESTDATA=$testdata
  echo "test: no test pictures at $testdata: the real-photo tests will be skipped"
fi

# Printing tests print to a virtual PDF printer.
source scripts/printer.sh
start_pdf_printer

source scripts/wine-env.sh
veldmoor_warm_wine
junit="$root/build/ctest-results.xml"
rm -f "$junit"
ctest --preset mingw --output-junit "$junit" "$@"
rc=$?
if [ ! -d "$testdata" ] && [ -f "$junit" ]; then
  skipped=$(grep -c 'status="notrun"' "$junit" || true)
  echo "test: $skipped tests skipped: they need the test pictures at $testdata"
fi
if [ -z "${VELDMOOR_KEEP_WINE:-}" ]; then
  wineserver -k 2>/dev/null || true
  [ -n "${VELDMOOR_XVFB_PID:-}" ] && kill "$VELDMOOR_XVFB_PID" 2>/dev/null
fi
[ $fuzz_rc = 0 ] || echo "test: the fuzz targets failed (see above)"
[ $rc = 0 ] && rc=$fuzz_rc
exit $rc
