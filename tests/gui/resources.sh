#!/usr/bin/env bash
# The resources of the staged programs and English resource libraries, as Windows loads them,
# against the presenters and string tables they serve (see win32/resource_check.cpp).
source "$(dirname "$0")/gui_lib.sh"
: "${KVX_GUI_CHECK:?}"

checked=0
for entry in keyport:LCK.EXE keyport:KEG.DLL keywiper:PRT.EXE keywiper:WEG.DLL; do
    app=${entry%%:*}
    file=$KVX_GUI_CD/$KVX_GUI_PREFIX${entry#*:}
    [[ -f $file ]] || fail "$file is not staged"
    out=$("$WINE" "$KVX_GUI_CHECK" "$app" "Z:$file" 2>&1 | tr -d '\r') || fail "$out"
    log "$out"
    checked=$((checked + 1))
done
log "PASS ($checked files)"
