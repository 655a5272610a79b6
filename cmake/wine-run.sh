#!/usr/bin/env bash
# Runs one Windows test program under wine64 in a private prefix per build tree.
set -e
prefix_root=${FWT_WINEPREFIX:-${TMPDIR:-/tmp}/fwt-wineprefix-$(id -u)}
export WINEPREFIX=$prefix_root
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
