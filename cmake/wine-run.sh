#!/usr/bin/env bash
# Runs one Windows test program under wine64 in a private prefix per build tree.
set -e
prefix_root=${FWT_WINEPREFIX:-${TMPDIR:-/tmp}/fwt-wineprefix-$(id -u)}
export WINEPREFIX=$prefix_root
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
fi
# Keep one wine server up between the test programs of a run (it ends 30 s after the last one), so a program
# never starts while the previous one's server is shutting down.
"$wineserver" -p30 >/dev/null 2>&1 || true
exec "$wine" "$@"
