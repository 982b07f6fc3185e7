#!/usr/bin/env bash
# Keyport under Wine: Options opens the change-password dialog; a confirmation that differs is
# refused (string 144) and the dialog stays; then the password and hint are changed (string 146).
# After a replug the old password is refused and the new one opens the emulated device.
source "$(dirname "$0")/gui_lib.sh"

STRINGS=apps/keyport/keyport_strings.inc
TITLE=$(string_text $STRINGS 57344)

gui_machine --password 'Secret42' --hint 'the usual one'
gui_start LCK.EXE
login=$(wait_dialog "$TITLE" 1001)
focus "$login"
key alt+o
change=$(wait_dialog "$TITLE" 1030)
[[ $(probe state "$TITLE" 1030 1030) == "enabled visible" ]] || fail "current password field disabled"
[[ $(probe text "$TITLE" 1030 1091) == "$(string_text $STRINGS 1098)" ]] || fail "introduction text"
# The new-password field's balloon tip: the string of its id, wrapped at 400 pixels.
probe cursor $(probe center "$TITLE" 1030 1031)
tip=$(wait_tooltip)
IFS=$'\t' read -r tip_xid tip_width tip_text <<<"$tip"
[[ $tip_text == "$(string_text $STRINGS 1031)" ]] || fail "tooltip says '$tip_text'"
((tip_width >= 380 && tip_width <= 440)) || fail "tooltip is $tip_width pixels wide"
gui_shot tooltip
probe cursor 0 0
wait_tooltip_gone

focus "$change"
type_text Secret42
key Tab
type_text NewPass1
key Tab
type_text NewPass2
key Tab
type_text 'a new hint'
gui_shot change-password "$change"
key Return
wait_box "$TITLE"
expect_box "$(string_text $STRINGS 144)" information
gui_shot_window change-password-refused "$BOX_XID"
key Return
wait_box_gone "$TITLE"
# The focus is back in the confirmation, its text selected: typing replaces it.
type_text NewPass1
key Return
wait_box "$TITLE"
expect_box "$(string_text $STRINGS 146)" information
key Return
gui_wait_exit 15
[[ $EXIT_CODE == 0 ]] || fail "Keyport ended with $EXIT_CODE"
[[ $(device_info password_stored) == yes ]] || fail "no password stored"

kvxsim replug "$MACHINE" >/dev/null
[[ $(device_info secure_open) == no ]] || fail "the device is open after the replug"
gui_start LCK.EXE
login=$(wait_dialog "$TITLE" 1001)
focus "$login"
type_text Secret42
key Return
wait_box "$TITLE"
expect_box "$(string_text $STRINGS 105)" error
key Return
wait_box_gone "$TITLE"
type_text NewPass1
key Return
wait_dialog "$TITLE" 1002 >/dev/null
gui_wait_exit 15
[[ $EXIT_CODE == 0 ]] || fail "Keyport ended with $EXIT_CODE"
[[ $(device_info secure_open) == yes ]] || fail "the new password did not open the device"
log "PASS"
