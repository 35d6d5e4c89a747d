#!/usr/bin/env bash
# The test command's printer set-up and CI's rule on skipped tests, against stand-in
# CUPS commands and recorded test reports. Usage: ci_scripts.sh SCRATCH_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$1
rm -rf "$scratch" && mkdir -p "$scratch/bin"
failed=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# Stand-ins: lpstat answers -r from a state file and exits 0 either way, as the real
# one does; cupsd and lpadmin note their calls; sudo runs its command.
cat > "$scratch/bin/lpstat" <<'SH'
#!/bin/sh
case "$1" in
  -r) cat "$STATE/scheduler" ;;
  -d) echo "system default destination: PDF" ;;
esac
exit 0
SH
printf '#!/bin/sh\necho cupsd >> "$STATE/calls"\necho "scheduler is running" > "$STATE/scheduler"\n' \
  > "$scratch/bin/cupsd"
printf '#!/bin/sh\necho "lpadmin $*" >> "$STATE/calls"\n' > "$scratch/bin/lpadmin"
printf '#!/bin/sh\nexec "$@"\n' > "$scratch/bin/sudo"
chmod +x "$scratch/bin/"*
export STATE=$scratch PATH="$scratch/bin:$PATH"
source "$root/scripts/printer.sh"

for state in "scheduler is not running" "scheduler is running"; do
  echo "$state" > "$scratch/scheduler"
  : > "$scratch/calls"
  start_pdf_printer 2>/dev/null
  starts=$(grep -c '^cupsd$' "$scratch/calls")
  want=0
  [ "$state" = "scheduler is running" ] || want=1
  check "\"$state\": cupsd started $want time(s)" [ "$starts" = "$want" ]
done

# A report with a GoogleTest skip, a script's skip and a pass.
cat > "$scratch/skips.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="t" tests="3" skipped="2">
  <testcase name="CliInfo.ReportsUprightSizeAndTransparency" status="notrun">
    <skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
    <system-out>[ RUN      ] CliInfo.ReportsUprightSizeAndTransparency
../tests/test_cli.cpp:20: Skipped
test pictures not found at Z:\nowhere
[  SKIPPED ] CliInfo.ReportsUprightSizeAndTransparency (1 ms)</system-out>
  </testcase>
  <testcase name="e2e_print_page" status="notrun">
    <skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>SKIP: no default PDF printer (scripts/test.sh sets one up)</system-out>
  </testcase>
  <testcase name="Codec.Passes" status="run"><system-out>[ OK ]</system-out></testcase>
</testsuite>
XML
cat > "$scratch/clean.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="t" tests="1">
  <testcase name="Codec.Passes" status="run"><system-out>[ OK ]</system-out></testcase>
</testsuite>
XML
out=$(python3 "$root/scripts/ci-skips.py" "$scratch/skips.xml")
rc=$?
check "a report with skips fails" [ "$rc" != 0 ]
check "the GoogleTest skip is named with its reason" \
  grep -q 'CliInfo.ReportsUprightSizeAndTransparency: test pictures not found at Z:\\nowhere$' <<< "$out"
check "the script's skip is named with its reason" \
  grep -q 'e2e_print_page: no default PDF printer (scripts/test.sh sets one up)$' <<< "$out"
check "a report without skips passes" python3 "$root/scripts/ci-skips.py" "$scratch/clean.xml"
check "no report fails" bash -c "! python3 '$root/scripts/ci-skips.py' '$scratch/none.xml' >/dev/null"

# CI itself, over a test command that passes with a skip in its report.
mkdir -p "$scratch/clone/.ci" "$scratch/clone/scripts" "$scratch/clone/build"
cp "$root/.ci/run" "$scratch/clone/.ci/run"
cp "$root/scripts/ci-skips.py" "$scratch/clone/scripts/"
printf '#!/bin/sh\ncp "%s" build/ctest-results.xml\nexit 0\n' "$scratch/skips.xml" > "$scratch/clone/scripts/test.sh"
out=$(bash "$scratch/clone/.ci/run")
rc=$?
check "CI fails on a green run with a skipped test" [ "$rc" != 0 ]
check "CI names the skipped test" grep -q 'e2e_print_page: no default PDF printer' <<< "$out"
exit $failed
