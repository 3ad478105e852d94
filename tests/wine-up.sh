#!/usr/bin/env bash
# Readies the tests' own wine prefix: one persistent wineserver started
# first and detached from the caller's output, so that no helper process
# inherits a pipe a test runner waits on; the prefix booted; drive D: mapped
# to a folder of its own for the second-drive installation. The server stays
# until tests/wine-down.sh ends it, or, with TARVEX_WINE_LINGER=N, until N
# seconds after its last process has ended.
set -eu
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
setsid wineserver "-p${TARVEX_WINE_LINGER:-}" </dev/null >/dev/null 2>&1 &
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >"$WINEPREFIX/../wineboot.log" 2>&1
fi
mkdir -p "$WINEPREFIX/drive_d"
ln -sfn ../drive_d "$WINEPREFIX/dosdevices/d:"
# Fail here, clearly, where 32-bit programs cannot run at all (in a 64-bit
# prefix the 32-bit cmd.exe is the one in syswow64).
cmd='C:\windows\system32\cmd.exe'
[ -d "$WINEPREFIX/drive_c/windows/syswow64" ] && cmd='C:\windows\syswow64\cmd.exe'
wine "$cmd" /c exit 0 </dev/null >/dev/null 2>&1 ||
  { echo "wine-up: wine cannot run 32-bit programs here; run tools/install-deps" >&2; exit 1; }
