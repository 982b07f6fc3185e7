#!/usr/bin/env bash
# Checks that a Windows KVX.DLL exports the library's functions under their plain names: every
# exported name is one of the fourteen, undecorated, and each name given on the command line is there.
set -euo pipefail
dll=$1
shift
objdump=objdump
for candidate in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump; do
    command -v "$candidate" >/dev/null && objdump=$candidate && break
done
known="QDACheckCD QDACheckSEC QDAGetChipNum QDAEjectSec QDAGetPasswordStatus QDAGetDeviceCapacity
QDASHA2Auth QDALaunchSec QDAHiddenPartRdWr QDARdWrDirect QDAChangePassWord QDAFormatHDD
QDAUpdateCDPart QDAWriteCDFormatFlag"

exports=$("$objdump" -p "$dll" | awk '
    /\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
    table && /^[[:space:]]*\[/ { print $NF; next }
    table { table = 0 }')
status=0
for name in $exports; do
    if ! grep -qw -- "$name" <<<"$known"; then
        echo "unexpected export: $name" >&2
        status=1
    fi
done
for name in "$@"; do
    if ! grep -qx -- "$name" <<<"$exports"; then
        echo "missing export: $name" >&2
        status=1
    fi
done
echo "$(basename "$dll"): $(wc -w <<<"$exports") exports checked"
exit $status
