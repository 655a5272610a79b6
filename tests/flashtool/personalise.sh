#!/usr/bin/env bash
# flashtool on a fresh virtual camera: a burn with a serial number and what the host then sees, a serial
# number and manufacturer names set in place, the USB ids, and failures with their one-line reasons.
# usage: personalise.sh FLASHTOOL WORKDIR
set -euo pipefail
flashtool=$1 dir=$2
rm -rf "$dir"
mkdir -p "$dir"
ft() { "$flashtool" --camera "$dir/camera" "$@"; }
expect() { # expect PATTERN OUTPUT: a line of OUTPUT matches the extended regular expression
  grep -qE "$1" <<<"$2" || { printf 'expected /%s/ in:\n%s\n' "$1" "$2"; exit 1; }
}
fails() { # fails ARGS...: a non-zero exit with exactly one line on standard error
  local err
  if err=$(ft "$@" 2>&1 >/dev/null); then echo "flashtool $* succeeded"; exit 1; fi
  [ "$(wc -l <<<"$err")" -eq 1 ] || { printf 'flashtool %s: not one line:\n%s\n' "$*" "$err"; exit 1; }
}

ft image new "$dir/image.bin" >/dev/null
ft burn "$dir/image.bin" --serial LINE-0001 2>/dev/null
expect '^serial number: +"LINE-0001" +"LINE-0001"$' "$(ft strings)"

ft serial set LINE-0002 >/dev/null
expect '^serial number: +"LINE-0002" +"LINE-0002"$' "$(ft strings)"
[ "$(ft serial get)" = LINE-0002 ]
ft manufacturer set "Acme Optics" >/dev/null
ft manufacturer set PLAINCO --plain >/dev/null
[ "$(ft manufacturer get)" = "Acme Optics" ]
[ "$(ft manufacturer get --plain)" = PLAINCO ]
out=$(ft strings)
expect '^manufacturer: +"Acme Optics" +"Acme Optics"$' "$out"
expect '^plain maker: +"PLAINCO" +-$' "$out"
expect '^vendor id: +0xFFF2 +0xFFF2$' "$(ft ids)"

fails serial set 0123456789012345678901234567890X
fails burn "$dir/image.bin" --serial A --manufacturer B
fails serial
ft erase >/dev/null
fails strings
fails serial get
fails serial set LINE-0003
fails manufacturer set X --plain
echo "flashtool personalisation: ok"
