# Sourced by the end-to-end scripts: finds the real-photo folder, or ends the
# script as skipped (77) when it is absent and not required.
testdata=${VELDMOOR_TESTDATA:-../shared/testdata}
if [ ! -d "$testdata" ]; then
  if [ "${VELDMOOR_REQUIRE_TESTDATA:-}" = 1 ]; then
    echo "FAIL: test pictures missing at $testdata"
    exit 1
  fi
  echo "SKIP: test pictures not found at $testdata"
  exit 77
fi
