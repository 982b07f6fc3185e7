#!/usr/bin/env bash
# Starts (start PREFIX) or stops (stop PREFIX) a persistent wineserver for a test run; the prefix
# is created on first use, with unmanaged windows so that dialogs close at once.
set -euo pipefail
action=$1
export WINEPREFIX=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64

case "$action" in
start)
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
        mkdir -p "$WINEPREFIX"
        "$wine" wineboot -i >/dev/null 2>&1
        "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
    fi
    wineserver -p
    "$wine" wineboot >/dev/null 2>&1
    ;;
stop)
    wineserver -k || true
    ;;
*)
    echo "usage: $0 start|stop PREFIX" >&2
    exit 2
    ;;
esac
