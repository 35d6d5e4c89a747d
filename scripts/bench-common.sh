# Sourced by benchmark scripts: a warm Wine, the test pictures in $testdata and a
# scratch folder in $work that goes when the script ends.
source scripts/wine-env.sh
veldmoor_warm_wine >/dev/null 2>&1
testdata=${VELDMOOR_TESTDATA:-../shared/testdata}
[ -d "$testdata/camera" ] || { echo "test pictures missing at $testdata"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
