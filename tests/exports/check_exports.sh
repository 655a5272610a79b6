#!/usr/bin/env bash
# Compares a DLL's export table with the expected names: the plain names listed in a text file and the
# decorated names the Windows compiler gives the declarations of a C++ file (mangled here by clang).
# usage: check_exports.sh OBJDUMP DLL DECLARATIONS.cpp PLAIN.txt
set -euo pipefail
objdump=$1 dll=$2 declarations=$3 plain=$4
decorated=$(clang++ --target=i686-pc-windows-msvc -S -emit-llvm -o - "$declarations" |
  grep -o '@"?[^"]*"' | sed -e 's/^@"//' -e 's/"$//' | grep -v '^?kReferences' | sort -u)
expected=$( { grep -v '^$' "$plain"; [ -n "$decorated" ] && echo "$decorated"; } | sort -u)
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort -u)
if ! diff <(echo "$expected") <(echo "$actual"); then
  echo "export table of $dll differs (< expected, > actual)"
  exit 1
fi
echo "$(basename "$dll"): $(echo "$expected" | wc -l) exports as expected"
