#!/usr/bin/env bash
# Fails when a Windows binary imports a mingw runtime DLL: the shipped binaries must load on a bare Windows.
# usage: check_imports.sh OBJDUMP BINARY...
set -euo pipefail
objdump=$1
shift
status=0
for binary in "$@"; do
  imports=$("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if echo "$imports" | grep -i -E 'libgcc|libstdc|libwinpthread|mingw' >/dev/null; then
    echo "$(basename "$binary") imports a mingw runtime DLL: $(echo "$imports" | tr '\n' ' ')"
    status=1
  else
    echo "$(basename "$binary"): imports $(echo "$imports" | tr '\n' ' ')"
  fi
done
exit $status
