#!/bin/sh
# Runs a Windows program under Wine in the build tree's own prefix, creating the prefix
# once and letting it settle (RpcSs up) before the first program runs.
#   wine-run.sh --settle        only create and settle the prefix
#   wine-run.sh PROGRAM ARGS... run PROGRAM
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# The build tree: the parent of the origin folder the tests are given, else the default.
if [ -n "${KVSSF_ORIGIN_DIR:-}" ]; then build=$(dirname "$KVSSF_ORIGIN_DIR"); else build="$here/../../build/mingw"; fi
export WINEPREFIX="${KVSSF_WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.kvssf-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.kvssf-ready"
  fi
) 9>"$WINEPREFIX.lock"
[ "${1:-}" = "--settle" ] && exit 0
# Unix paths handed to the program through the environment become drive Z: paths.
case "${KVSSF_ORIGIN_DIR:-}" in /*) export KVSSF_ORIGIN_DIR="Z:$KVSSF_ORIGIN_DIR" ;; esac
case "${KVSSF_MEDIA_DIR:-}" in /*) export KVSSF_MEDIA_DIR="Z:$KVSSF_MEDIA_DIR" ;; esac
# The server and the system processes that the first program starts would inherit the
# caller's pipes and hold them open for seconds after the program ends: started here,
# they get none.
wineboot </dev/null >/dev/null 2>&1 || true
exec wine "$@"
