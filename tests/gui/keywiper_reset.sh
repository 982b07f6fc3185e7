#!/usr/bin/env bash
# Keywiper under Wine: the main dialog shows the warning and the stored hint; the reset dialog
# refuses a short password (string 166); three warnings answered Yes; the progress bar moves
# while the device is formatted; string 171 at the end. Afterwards the emulated device opens
# with the new password only (Keyport, after a replug).
source "$(dirname "$0")/gui_lib.sh"

STRINGS=apps/keywiper/keywiper_strings.inc
KEYPORT_STRINGS=apps/keyport/keyport_strings.inc
TITLE=$(string_text $STRINGS 57344)
LOGIN_TITLE=$(string_text $KEYPORT_STRINGS 57344)
HINT='the usual one'

# Big enough for the format to take a moment, so that the bar can be watched.
gui_machine --password 'Secret42' --hint "$HINT" --size-mb 512
gui_start PRT.EXE

main=$(wait_dialog "$TITLE" 1014)
[[ $(probe text "$TITLE" 1014 1014) == "$HINT" ]] || fail "the main dialog shows the hint '$(probe text "$TITLE" 1014 1014)'"
[[ $(probe text "$TITLE" 1014 1000) == "$(string_text $STRINGS 172)" ]] || fail "warning text"
gui_shot keywiper-main "$main"
loaded PRT.EXE KVX.DLL || fail "the device library is not loaded"
loaded PRT.EXE WEG.DLL || fail "the English resource library is not loaded"

focus "$main"
key alt+r
reset=$(wait_dialog "$TITLE" 1003)
gui_shot reset "$reset"
focus "$reset"
type_text abc
key Tab
type_text abc
key Tab
type_text 'hint1'
key Return
wait_box "$TITLE"
expect_box "$(string_text $STRINGS 166)" information
gui_shot_window validation-message "$BOX_XID"
key Return
wait_box_gone "$TITLE"

# The focus is back in the new password, its text selected: typing replaces it; Tab selects
# the next field's text likewise.
type_text Fresh123
key Tab
type_text Fresh123
key Tab
type_text 'fresh hint'
key Return
warning=$(string_text $STRINGS 102)
for i in 1 2 3; do
    wait_box_text "$TITLE" "$(string_text $STRINGS 180) $i of 3 $warning"
    expect_box "$(string_text $STRINGS 180) $i of 3 $warning" none yes,no
    ((i == 1)) && gui_shot_window warning "$BOX_XID"
    key y
done

# The format: the bar moves from 0 to 100 while the library drives it.
declare -A seen=()
shot_taken=
for ((n = 0; n < 1200; n++)); do
    if probe box "$TITLE" >/dev/null; then
        break
    fi
    position=$(probe progress "$TITLE" 1003 1009) || continue
    seen[$position]=1
    if [[ -z $shot_taken ]] && ((position > 0 && position < 100)); then
        gui_shot reset-formatting "$reset"
        shot_taken=1
        [[ $(probe text "$TITLE" 1003 1011) == "$(string_text $STRINGS 1026)" ]] ||
            fail "status line says '$(probe text "$TITLE" 1003 1011)'"
    fi
    sleep 0.05
done
positions=$(printf '%s\n' "${!seen[@]}" | sort -n | tr '\n' ' ')
log "progress positions seen: $positions"
between=0
for p in "${!seen[@]}"; do
    ((p > 0 && p < 100)) && between=$((between + 1))
done
((between >= 2)) || fail "the progress bar did not move through the format (seen: $positions)"
[[ -n $shot_taken ]] || fail "no screenshot during the format"

wait_box "$TITLE" 120
expect_box "$(string_text $STRINGS 171)" information
gui_shot_window reset-done "$BOX_XID"
key Return
gui_wait_exit 20
[[ $EXIT_CODE == 0 ]] || fail "Keywiper ended with $EXIT_CODE"

# The device now: the new password data, and a fresh file system on the secure partition.
[[ $(device_info password_stored) == yes ]] || fail "no password stored"
kvxsim replug "$MACHINE" >/dev/null
[[ $(device_info secure_open) == no ]] || fail "the device is open after the replug"

gui_start LCK.EXE
login=$(wait_dialog "$LOGIN_TITLE" 1001)
focus "$login"
type_text Secret42
key Return
wait_box "$LOGIN_TITLE"
expect_box "$(string_text $KEYPORT_STRINGS 105)" error
key Return
wait_box_gone "$LOGIN_TITLE"
[[ $(device_info secure_open) == no ]] || fail "the old password opened the device"
type_text Fresh123
key Return
wait_dialog "$LOGIN_TITLE" 1002 >/dev/null
gui_wait_exit 15
[[ $EXIT_CODE == 0 ]] || fail "Keyport ended with $EXIT_CODE"
[[ $(device_info secure_open) == yes ]] || fail "the new password did not open the device"
log "PASS"
