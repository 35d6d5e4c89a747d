#!/usr/bin/env python3
"""Lists the tests a CTest JUnit report marks as not run, each with its reason, and
fails when there is any: in CI a skipped test is one nobody checked.
Usage: scripts/ci-skips.py build/ctest-results.xml"""
import sys
import xml.etree.ElementTree as ET


def reason(case):
    out = (case.findtext("system-out") or "").splitlines()
    for i, line in enumerate(out):
        if line.startswith("SKIP:"):  # the end-to-end scripts
            return line[5:].strip()
        if line.endswith(": Skipped") and i + 1 < len(out):  # GoogleTest's GTEST_SKIP
            return out[i + 1].strip()
    skipped = case.find("skipped")
    message = skipped.get("message") if skipped is not None else None
    return message or "no reason given"


def main(path):
    try:
        cases = ET.parse(path).getroot().iter("testcase")
    except (OSError, ET.ParseError) as e:
        print(f"ci: no test report to check for skips ({e})")
        return 2
    skipped = [c for c in cases if c.get("status") == "notrun" or c.find("skipped") is not None]
    for c in skipped:
        print(f"ci: skipped, which counts as failed: {c.get('name')}: {reason(c)}")
    return 1 if skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/ctest-results.xml"))
