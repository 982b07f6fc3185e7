#!/usr/bin/env bash
# Keyport under Wine, in German (so with its own resources, not the English library): the About
# box from the login dialog's system menu; a removal notice for a device that is still there
# changes nothing; once the device is gone, the notice closes the About box and the login dialog
# without a message, and the program ends.
source "$(dirname "$0")/gui_lib.sh"

STRINGS=apps/keyport/keyport_strings.inc
TITLE=$(string_text $STRINGS 57344)

gui_machine --password 'Secret42' --hint 'the usual one'
PROGRAM_LANG=de_DE.UTF-8
gui_start LCK.EXE
login=$(wait_dialog "$TITLE" 1001)
loaded LCK.EXE KVX.DLL || fail "the device library is not loaded"
! loaded LCK.EXE KEG.DLL || fail "the English resource library is loaded for a German user"
[[ $(probe text "$TITLE" 1001 1090) == "$(string_text $STRINGS 1097)" ]] || fail "prompt text"
focus "$login"
# The system menu's last entry is About.
key alt+space Up Return
about=$(wait_dialog "$TITLE" 1019)
[[ $(probe text "$TITLE" 1019 1019) == "$(string_text $STRINGS 57344)Version 1.64.05" ]] ||
    fail "About box says '$(probe text "$TITLE" 1019 1019)'"
gui_shot about "$about"

# The notice is sent to every window and handled before the probe returns.
probe removed "$CD_LETTER" >/dev/null
probe find "$TITLE" 1019 >/dev/null || fail "the About box closed while the device is there"
probe find "$TITLE" 1001 >/dev/null || fail "the login dialog closed while the device is there"

kvxsim unplug "$MACHINE" >/dev/null
probe removed "$CD_LETTER" >/dev/null
wait_dialog_gone "$TITLE" 1019
wait_dialog_gone "$TITLE" 1001
# Looked for while the program is still there to show one.
if probe box "$TITLE" >/dev/null; then
    fail "a message box is shown"
fi
gui_wait_exit 10
[[ $EXIT_CODE == 0 ]] || fail "Keyport ended with $EXIT_CODE"
log "PASS"
