#!/usr/bin/env bash
# Ends the tests' own wine prefix: its server and every process of it (the
# services wine starts on the way among them). Nothing outside this prefix
# is touched.
set -u
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
exit 0
