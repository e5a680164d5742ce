#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PROGRAM [ARGUMENT...]
# The Wine prefix is $WINEPREFIX, made on first use. Exits 77, which the tests
# count as skipped, only when Wine is missing or cannot start on this machine.
set -u
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix to use}"
export WINEPREFIX
# Quiet, and no offer to fetch Wine's Mono and Gecko into a new prefix.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree=;mshtml="

# Debian's wine64 package keeps its loader in Wine's library folder, off the PATH.
loader=${WINE:-}
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  [ -z "$loader" ] && [ -n "$candidate" ] && [ -x "$candidate" ] && loader=$candidate
done
if [ -z "$loader" ]; then
  echo "SKIPPED: Wine is not installed (Debian package wine64)"
  exit 77
fi

mkdir -p "$WINEPREFIX"
boot_log="$WINEPREFIX/../wineboot.log"
if ! "$loader" wineboot --init >"$boot_log" 2>&1; then
  echo "SKIPPED: Wine cannot start on this machine ($loader wineboot failed):"
  cat "$boot_log"
  exit 77
fi
exec "$loader" "$@"
