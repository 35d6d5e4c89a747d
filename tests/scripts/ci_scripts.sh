#!/usr/bin/env bash
# The test command's printer set-up and CI's rule on skipped tests, against stand-in
# CUPS commands and a recorded test report. Usage: ci_scripts.sh SCRATCH_FOLDER
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
s=$1
rm -rf "$s" && mkdir -p "$s/bin" "$s/clone/.ci" "$s/clone/scripts" "$s/clone/build"
failed=0
check() { if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi; }

# lpstat exits 0 whether or not the scheduler runs, as the real one does; cupsd notes its start.
printf '#!/bin/sh\n[ "$1" = -r ] && cat "$STATE/scheduler"\n[ "$1" = -d ] && echo "x: PDF"\nexit 0\n' > "$s/bin/lpstat"
printf '#!/bin/sh\necho cupsd >> "$STATE/calls"\necho "scheduler is running" > "$STATE/scheduler"\n' > "$s/bin/cupsd"
printf '#!/bin/sh\nexit 0\n' > "$s/bin/lpadmin"
printf '#!/bin/sh\nexec "$@"\n' > "$s/bin/sudo"
chmod +x "$s/bin/"*
export STATE=$s PATH="$s/bin:$PATH"
source "$root/scripts/printer.sh"
for state in "not running" "running"; do
  echo "scheduler is $state" > "$s/scheduler"
  : > "$s/calls"
  start_pdf_printer 2>/dev/null
  want=1
  [ "$state" = running ] && want=0
  check "scheduler $state: cupsd started $want time(s)" [ "$(grep -c cupsd "$s/calls")" = "$want" ]
done

# CI over a test command that passes with a GoogleTest skip and a script's skip in its report.
cat > "$s/skips.xml" <<'XML'
<testsuite name="t" tests="3">
  <testcase name="CliInfo.Reports" status="notrun"><skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
    <system-out>../tests/test_cli.cpp:20: Skipped
test pictures not found at Z:\nowhere</system-out></testcase>
  <testcase name="e2e_print_page" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>SKIP: no default PDF printer</system-out></testcase>
  <testcase name="Codec.Passes" status="run"><system-out>[ OK ]</system-out></testcase>
</testsuite>
XML
cp "$root/.ci/run" "$s/clone/.ci/run"
cp "$root/scripts/ci-skips.py" "$s/clone/scripts/"
printf '#!/bin/sh\ncp "%s" build/ctest-results.xml\n' "$s/skips.xml" > "$s/clone/scripts/test.sh"
out=$(bash "$s/clone/.ci/run")
check "CI fails a green run with skips" [ $? != 0 ]
check "CI names the GoogleTest skip and why" grep -qx '.*CliInfo.Reports: test pictures not found at Z:\\nowhere' <<< "$out"
check "CI names the script's skip and why" grep -qx '.*e2e_print_page: no default PDF printer' <<< "$out"
grep -v notrun "$s/skips.xml" | grep -v -e '<system-out>\.\.' -e '^test pictures' -e 'SKIP:' > "$s/clean.xml"
check "a report without skips passes" python3 "$root/scripts/ci-skips.py" "$s/clean.xml"
exit $failed
