#!/usr/bin/env bash
# The trace on a console: the launcher runs under a pseudo-terminal, where
# wine gives it a console, and a CJK argument must show whole in the trace
# of the child's command line. Wine writes the console to the terminal in
# the locale's character set, UTF-8 here. Usage: console-trace.sh TYPESCRIPT
set -u
export LC_ALL=C.UTF-8 TARVEX_LAUNCHER_DEBUG=1
typescript=${1:?usage: console-trace.sh TYPESCRIPT}
arg='日本語 表ソ'
script -qec "wine 'C:\\Apps\\tarvex\\bin\\tarvex.exe' --no-gui-libs '$arg' </dev/null" "$typescript" >/dev/null
expected="tarvex: command line C:\\Apps\\tarvex\\bin\\tarvex-cli.exe \"$arg\""
if grep -qF "$expected" "$typescript"; then
  echo "console-trace: the console shows: $expected"
else
  echo "console-trace: no line on the console reads: $expected" >&2
  cat -v "$typescript" >&2
  exit 1
fi
