#!/usr/bin/env bash
# The launcher finds its installation however it is reached: spelled in any
# case, through a symbolic link to its file or to a directory above it, and
# from paths near and past the length a program can be started from. These
# launches come from the Unix side, as "wine PATH": there wine keeps the
# caller's spelling of the program's path, as Windows does, while a
# Windows-side start passes the spelling on disk.
#
# Usage: reach.sh stage LAUNCHER CHILD VERSION   lays out the trees
#        reach.sh CASE                           runs one case of the table
set -u
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"
drive_c=$WINEPREFIX/drive_c
records=reach-records

# Roots whose launcher path (root + \bin\tarvex.exe) is 230 characters, so
# that the GUI build's path passes the limit of 259 while the command-line
# builds' do not; and 301 characters, past what anything starts from. The
# filler goes in folders of at most 100 characters, as Unix allows 255.
deep_root() { # BASE LENGTH
  local root=$1 rest
  while rest=$(($2 - ${#root} - 7)); [ "$rest" -gt 100 ]; do
    root+='\'$(printf 'd%.0s' $(seq 50))
  done
  printf '%s\\%s\\tarvex' "$root" "$(printf 'd%.0s' $(seq $((rest - 1))))"
}
near_root=$(deep_root 'C:\near' 215)
far_root=$(deep_root 'C:\far' 286)

unix_path() { # WINDOWS_PATH below C:
  local p=${1#C:}
  printf '%s%s' "$drive_c" "${p//\\//}"
}

stage() { # LAUNCHER CHILD VERSION
  local launcher=$1 child=$2 version=$3 root
  for root in 'C:\Reach\tarvex' 'C:\Versions\tarvex\4.0' "$near_root" "$far_root"; do
    root=$(unix_path "$root")
    rm -rf "$root"
    install -D "$launcher" "$root/bin/tarvex.exe"
    install -D "$child" "$root/bin/tarvex-cli.exe"
    install -D "$child" "$root/bin/tarvex-cli-$version.exe"
    install -D "$child" "$root/libexec/tarvex/$version/exec/i686-w64-mingw32/tarvex-gui.exe"
  done
  # A package manager's links folder; a link in another tree's bin, which
  # holds no children of its own; a stable "current" directory.
  mkdir -p "$drive_c/Links" "$drive_c/Other/bin" "$drive_c/$records"
  ln -sfn ../Reach/tarvex/bin/tarvex.exe "$drive_c/Links/tarvex.exe"
  ln -sfn ../../Reach/tarvex/bin/tarvex.exe "$drive_c/Other/bin/tarvex.exe"
  ln -sfn 4.0 "$drive_c/Versions/tarvex/current"
  echo "$version" >"$drive_c/$records/version"
}

version() { cat "$drive_c/$records/version"; }
gui() { printf '%s\\libexec\\tarvex\\%s\\exec\\i686-w64-mingw32\\tarvex-gui.exe' "$1" "$(version)"; }
cli() { printf '%s\\bin\\tarvex-cli.exe' "$1"; }

fail() { echo "reach: $case: $*" >&2; failed=1; }

# Starts the launcher under wine (by a Windows path, a Unix one, or through
# cmd /c) with the child's record asked for and standard error in a file.
launch() { # PROGRAM ARG...
  local name=${case//[^A-Za-z0-9]/_}
  record=$drive_c/$records/$name.rec err=$drive_c/$records/$name.err
  rm -f "$record" "$record.wide"
  TARVEX_TEST_RECORD="C:\\$records\\$name.rec" TARVEX_TEST_EXIT=42 \
    wine "$@" </dev/null >/dev/null 2>"$err"
  status=$?
}

# Checks the launcher's status (42 is the child's, 255 is -1), the child's
# argument 0 ("" for no child), and lines its trace must hold ("" alone:
# standard error must be empty).
expect() { # STATUS ARGV0 [TRACE_LINE...]
  local want_status=$1 want_argv0=$2 argv0="" line
  shift 2
  [ "$status" = "$want_status" ] || fail "status $status, expected $want_status"
  [ -f "$record" ] && argv0=$(tr '\0' '\n' <"$record" | sed -n 6p)
  [ "$argv0" = "$want_argv0" ] || fail "child's argument 0 is '$argv0', expected '$want_argv0'"
  if [ "$#" = 1 ] && [ -z "$1" ]; then
    [ ! -s "$err" ] || fail "standard error holds: $(cat "$err")"
    return
  fi
  for line in "$@"; do
    grep -qxF "tarvex: $line"$'\r' "$err" || fail "no trace line reads: tarvex: $line"
  done
  [ -z "$failed" ] || { echo "reach: $case: standard error:" >&2; cat "$err" >&2; }
}

run_case() {
  local reach='C:\Reach\tarvex' current='C:\Versions\tarvex\current' limit
  limit="over the limit of 259 for a program that is not long-path aware"
  case $case in
  caps)           launch 'C:\REACH\TARVEX\BIN\TARVEX.EXE'; expect 42 "$(gui 'C:\REACH\TARVEX')" "" ;;
  caps_cli)       launch 'C:\REACH\TARVEX\BIN\TARVEX.EXE' --no-gui-libs; expect 42 "$(cli 'C:\REACH\TARVEX')" "" ;;
  mixed)          launch 'C:\Reach\Tarvex\Bin\Tarvex.exe'; expect 42 "$(gui 'C:\Reach\Tarvex')" "" ;;
  mixed_cli)      launch 'C:\Reach\Tarvex\Bin\Tarvex.exe' --no-gui-libs; expect 42 "$(cli 'C:\Reach\Tarvex')" "" ;;
  extension)      launch "$reach\\bin\\tarvex.EXE"; expect 42 "$(gui "$reach")" "" ;;
  extension_cli)  launch "$reach\\bin\\tarvex.EXE" --no-gui-libs; expect 42 "$(cli "$reach")" "" ;;
  links_folder)   launch 'C:\Links\tarvex.exe'; expect 42 "$(gui "$reach")" "" ;;
  links_folder_cli) launch 'C:\Links\tarvex.exe' --no-gui-libs; expect 42 "$(cli "$reach")" "" ;;
  other_bin)      launch 'C:\Other\bin\tarvex.exe'; expect 42 "$(gui "$reach")" "" ;;
  other_bin_cli)  launch 'C:\Other\bin\tarvex.exe' --no-gui-libs; expect 42 "$(cli "$reach")" "" ;;
  # A Windows-side start, through cmd, passes the spelling on disk.
  links_folder_from_windows) launch cmd /c 'C:\Links\tarvex.exe'; expect 42 "$(gui "$reach")" "" ;;
  other_bin_from_windows_cli)
    launch cmd /c 'C:\Other\bin\tarvex.exe' --no-gui-libs; expect 42 "$(cli "$reach")" "" ;;
  link_traced)
    TARVEX_LAUNCHER_DEBUG=1 launch 'C:\Links\tarvex.exe' --no-gui-libs
    expect 42 "$(cli "$reach")" 'module tarvex.exe matched, at C:\Links\tarvex.exe' \
      "its file is a symbolic link to $reach\\bin\\tarvex.exe: the installation is the one it leads to" \
      "installation root $reach, from the launcher's own path" ;;
  linked_directory) launch "$current\\bin\\tarvex.exe"; expect 42 "$(gui "$current")" "" ;;
  linked_directory_cli) launch "$current\\bin\\tarvex.exe" --no-gui-libs; expect 42 "$(cli "$current")" "" ;;
  linked_directory_traced)
    TARVEX_LAUNCHER_DEBUG=1 launch "$current\\bin\\tarvex.exe" --no-gui-libs
    expect 42 "$(cli "$current")" \
      'its file is no link into another directory: the path is used as found' ;;
  near_limit_cli) launch "$near_root\\bin\\tarvex.exe" --no-gui-libs; expect 42 "$(cli "$near_root")" "" ;;
  near_limit_gui) launch "$near_root\\bin\\tarvex.exe"; expect 255 "" "" ;;
  near_limit_gui_traced)
    local path
    path=$(gui "$near_root")
    TARVEX_LAUNCHER_DEBUG=1 launch "$near_root\\bin\\tarvex.exe"
    expect 255 "" "installation root $near_root, from the launcher's own path"
    grep -qF "could not start $path: " "$err" && grep -qF "; its path is ${#path} characters long, $limit" "$err" ||
      fail "no line gives the length ${#path} and the limit: $(cat "$err")" ;;
  past_limit_traced)
    # Only the Unix spelling starts a launcher this deep.
    TARVEX_LAUNCHER_DEBUG=1 launch "$(unix_path "$far_root")/bin/tarvex.exe" --no-gui-libs
    expect 255 ""
    local root length tail='\bin\tarvex-cli.exe'
    root=$(sed -n 's/^tarvex: installation root \(.*\), from the launcher.s own path\r$/\1/p' "$err" | head -n1)
    [ "${root%"${far_root#C:}"}" != "$root" ] || fail "the root '$root' is not the whole of ...${far_root#C:}"
    length=$(( ${#root} + ${#tail} ))
    grep -qF "; its path is $length characters long, $limit" "$err" ||
      fail "no line gives the length $length and the limit: $(cat "$err")" ;;
  *) echo "reach: no case $case" >&2; return 2 ;;
  esac
}

if [ "${1:-}" = stage ]; then
  stage "$2" "$3" "$4"
  exit
fi
case=${1:?usage: reach.sh CASE}
failed=""
export WINEDEBUG=-all
run_case || exit
[ -z "$failed" ] || exit 1
echo "reach: $case: passed"
