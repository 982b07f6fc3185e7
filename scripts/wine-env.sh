# shellcheck shell=bash
# Sourced by the scripts that run a Windows build under Wine, with the build's Wine architecture
# (win32 or win64) as argument: sets WINE to the loader that runs that build's programs and exports
# what every test run shares (no debug output, no .NET or Gecko installers at prefix creation).
# shellcheck disable=SC2034 # WINE is read by the scripts that source this one
case ${1:-} in
win64) WINE=/usr/lib/wine/wine64 ;;
win32) WINE=/usr/lib/wine/wine ;;
*)
    echo "wine-env.sh: the architecture is win32 or win64, not '${1:-}'" >&2
    return 2
    ;;
esac
# WINEARCH decides what a new prefix is made for; a 32-bit program needs a prefix made for it.
export WINEARCH=$1
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
