#!/usr/bin/env bash
# Runs a test program under Wine for CTest. Listing a program's tests is tried up
# to three times: a Wine process that fails to start at all (exit 1, no output) on
# a busy machine would otherwise stop the whole run before any test ran. Test runs
# themselves are never repeated.
if [[ " $* " != *" --gtest_list_tests "* ]]; then
  exec wine "$@"
fi
for try in 1 2 3; do
  if out=$(wine "$@"); then
    printf '%s\n' "$out"
    exit 0
  fi
  [ -n "$out" ] && { printf '%s\n' "$out"; exit 1; }
  echo "wine-test: listing $1 gave nothing (try $try)" >&2
  sleep 1
done
exit 1
