#!/usr/bin/env bash
# A Wine prefix for the tests of one Windows build (ARCH: win32 or win64).
#   create PREFIX ARCH  makes the prefix when missing and sets it up; no server is left running
#   start PREFIX ARCH   create, then start a persistent wineserver for a test run
#   stop PREFIX         stops that server
#   probe PREFIX ARCH   whether this machine runs the build's programs: prints why not and fails
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:-}
[[ -n ${2:-} ]] || { echo "usage: $0 create|start|stop|probe PREFIX [win32|win64]" >&2; exit 2; }
# Wine takes an absolute prefix only.
WINEPREFIX=$(realpath -m "$2")
export WINEPREFIX
if [[ $action != stop ]]; then
    # shellcheck source=scripts/wine-env.sh
    source "$here/wine-env.sh" "${3:-}"
fi

# The prefix, made once, with unmanaged windows: with no window manager Wine then draws whole
# windows itself, title bars included, and dialogs close at once. Wine's own dialog font and
# window-button glyphs (package fonts-wine) are copied in, as this Wine does not take them from
# its data folder: without them dialogs fall back to a wider font.
create() {
    local made=0
    if [[ ! -f $WINEPREFIX/system.reg ]]; then
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1
        made=1
    fi
    local font
    for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
        if [[ -f /usr/share/wine/fonts/$font && ! -f $WINEPREFIX/drive_c/windows/Fonts/$font ]]; then
            cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
        fi
    done
    local key='HKCU\Software\Wine\X11 Driver'
    if ! "$WINE" reg query "$key" /v Managed 2>/dev/null | tr -d '\r' |
        grep -Eq 'Managed[[:space:]]+REG_SZ[[:space:]]+N$'; then
        "$WINE" reg add "$key" /v Managed /d N /f >/dev/null 2>&1
    fi
    # A new prefix is complete once its first server has written it out.
    if ((made)); then
        wineserver -w
    fi
}

# A tiny static program of the build's architecture, run in the prefix: the loader must start
# (a kernel without 32-bit support refuses it) and the program's exit code must come back.
probe() {
    local triple
    case $WINEARCH in
    win64) triple=x86_64-w64-mingw32 ;;
    win32) triple=i686-w64-mingw32 ;;
    esac
    local out
    if ! out=$("$WINE" --version 2>&1); then
        echo "this machine cannot execute the Wine loader $WINE ($(file -b "$WINE" | cut -d, -f1)): ${out##*: }"
        return 1
    fi
    local work expected=42 status=0 why=
    work=$(mktemp -d)
    printf 'int main(void) { return %d; }\n' "$expected" >"$work/probe.c"
    if ! out=$("$triple-gcc" -static -o "$work/probe.exe" "$work/probe.c" 2>&1); then
        why="the probe program does not build with $triple-gcc: $out"
    else
        create >/dev/null 2>&1 || true
        "$WINE" "$work/probe.exe" >/dev/null 2>&1 || status=$?
        if ((status != expected)); then
            why="a $(file -b "$work/probe.exe" | cut -d, -f1) ran under $WINE with exit code $status, not $expected"
        fi
    fi
    rm -rf "$work"
    [[ -z $why ]] || { echo "$why"; return 1; }
}

case "$action" in
create) create ;;
start)
    create
    # The set-up's commands start a server that lingers a while: a persistent one starts only
    # once it has gone.
    wineserver -w
    wineserver -p
    "$WINE" wineboot >/dev/null 2>&1
    ;;
stop) wineserver -k || true ;;
probe) probe ;;
*)
    echo "usage: $0 create|start|stop|probe PREFIX [win32|win64]" >&2
    exit 2
    ;;
esac
