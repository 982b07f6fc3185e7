#!/usr/bin/env bash
# Keyport under Wine, in English: three wrong passwords (string 105 twice, then 106 with the hint offered),
# the hint dialog with the stored hint, then the right password: the success dialog ticks its
# button caption and closes itself after about four seconds, and the emulated device is open.
source "$(dirname "$0")/gui_lib.sh"

STRINGS=apps/keyport/keyport_strings.inc
TITLE=$(string_text $STRINGS 57344)
HINT='the usual one'

gui_machine --password 'Secret42' --hint "$HINT"
gui_start LCK.EXE

login=$(wait_dialog "$TITLE" 1001)
[[ $(probe state "$TITLE" 1001 1) == "disabled visible" ]] || fail "Login is enabled before any typing"
[[ $(probe state "$TITLE" 1001 1025) == "disabled visible" ]] || fail "Hint is offered at once"
[[ $(probe text "$TITLE" 1001 1090) == "$(string_text $STRINGS 1097)" ]] || fail "prompt text"
gui_shot login "$login"
# The library is bound at run time; in English the dialogs come from the resource library.
loaded LCK.EXE KVX.DLL || fail "the device library is not loaded"
loaded LCK.EXE KEG.DLL || fail "the English resource library is not loaded"

focus "$login"
attempt=0
for wrong in Wrong123 Wrong456 Wrong789; do
    attempt=$((attempt + 1))
    type_text "$wrong"
    [[ $(probe state "$TITLE" 1001 1) == "enabled visible" ]] || fail "Login stays disabled"
    key Return
    wait_box "$TITLE"
    if ((attempt < 3)); then
        expect_box "$(string_text $STRINGS 105)" error
        ((attempt == 1)) && gui_shot_window message-box "$BOX_XID"
    else
        expect_box "$(string_text $STRINGS 106)" error
    fi
    key Return
    wait_box_gone "$TITLE"
    [[ -z $(probe text "$TITLE" 1001 1001) ]] || fail "the password field was not cleared"
done

# The limit: only Hint and Cancel are usable, and Hint has the focus.
[[ $(probe state "$TITLE" 1001 1001) == "disabled visible" ]] || fail "password field still enabled"
[[ $(probe state "$TITLE" 1001 1025) == "enabled visible" ]] || fail "Hint not offered"
key Return
hint=$(wait_dialog "$TITLE" 1026)
[[ $(probe text "$TITLE" 1026 1026) == "$HINT" ]] || fail "the hint dialog shows '$(probe text "$TITLE" 1026 1026)'"
[[ $(probe text "$TITLE" 1026 1044) == "$(string_text $STRINGS 1059)" ]] || fail "hint label"
gui_shot hint "$hint"
key Return
wait_dialog_gone "$TITLE" 1026

[[ $(probe state "$TITLE" 1001 1001) == "enabled visible" ]] || fail "password field not enabled after the hint"
focus "$login"
type_text Secret42
key Return
success=$(wait_dialog "$TITLE" 1002)
opened=$(date +%s.%N)
[[ $(probe text "$TITLE" 1002 1002) == "$(string_text $STRINGS 140)" ]] || fail "success text"
gui_shot success "$success"
captions=$(watch_text "$TITLE" 1002 1 12 "$opened")
log "success button captions:"$'\n'"$captions"
# Ticks one to four: n blanks, "OK", n full stops; the fourth closes the dialog at once, about
# four seconds after it opened.
seen="|$(cut -f2 <<<"$captions" | tr '\n' '|')"
# (A look while the dialog is being destroyed may read an empty caption.)
[[ $seen == *"| OK.|  OK..|   OK...|"*"(closed)|" ]] || fail "button captions were: $seen"
closed_after=$(tail -n1 <<<"$captions" | cut -f1)
awk -v t="$closed_after" 'BEGIN { exit !(t >= 3.0 && t <= 6.5) }' ||
    fail "the success dialog closed $closed_after s after it was seen"

gui_wait_exit 15
[[ $EXIT_CODE == 0 ]] || fail "Keyport ended with $EXIT_CODE"

[[ $(device_info secure_open) == yes ]] || fail "the device is not open after the login"
refused=$(kvxsim log "$MACHINE" | grep -c 'password refused' || true)
[[ $refused == 3 ]] || fail "the device refused $refused passwords, expected 3"
log "PASS"
