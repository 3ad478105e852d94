#!/usr/bin/env bash
# Runs a Windows test program under wine with its output in files, then
# passes that output on. A helper that wine starts on the way (the desktop
# process takes its creator's standard error) can outlive the program and
# would hold a pipe that the test runner waits on; a file it may keep.
set -u
out=$(mktemp) err=$(mktemp)
wine "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
