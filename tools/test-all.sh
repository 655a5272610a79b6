#!/usr/bin/env bash
# Builds and tests everything: the native Linux build with AddressSanitizer and UndefinedBehaviorSanitizer
# and its tests, the shipped 32-bit Windows build and the checks of its export and import tables, and the
# 64-bit Windows build with its tests under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in default win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
