#!/usr/bin/env bash
# The login application at work in this terminal: builds Keyport, the device library and kvxsim
# (native preset), creates on first use an emulated machine whose device is password-protected,
# copies Keyport, the library and the configuration file onto the device's CD (the machine's
# "cd" folder, drive E: to the programs) and starts Keyport from there. Arguments are passed on
# to Keyport (a command word: LOGIN, OPENSEC, ENABLEOSG, DISABLEOSG).
#
#   KVX_DEMO_DIR   the machine directory (default: build/demo-machine); remove it to start over
set -euo pipefail
cd "$(dirname "$0")/.."

password='Secret42'
hint='the usual one'
machine=${KVX_DEMO_DIR:-$PWD/build/demo-machine}
build=build/native

bash scripts/setup-debian.sh
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target keyport kvx kvxsim >/dev/null

if [ ! -d "$machine/devices" ]; then
    "$build/tools/kvxsim/kvxsim" create "$machine" --password "$password" --hint "$hint"
    echo "Created an emulated device in $machine (password: $password)"
fi

# The device's CD: Keyport under its Windows name (prefix + LCK.EXE, here without a prefix), the
# library beside it under the name Keyport loads (KVX.DLL; natively it is libkvx.so), and the
# configuration file naming the device. Copies, not links: a program finds its companion files
# beside its own real file.
cd_dir="$machine/cd"
mkdir -p "$cd_dir"
cp -f "$build/apps/keyport/keyport" "$cd_dir/LCK.EXE"
cp -f "$build/lib/libkvx.so" "$cd_dir/KVX.DLL"
info=$("$build/tools/kvxsim/kvxsim" info "$machine")
field() { sed -n "s/^$1: //p" <<<"$info" | head -n1; }
printf '[VENDOR]\r\nVENDORSTR0=%s\r\nPRODUCTSTR0=%s\r\nSECVENDORSTR0=%s\r\nSECPRODUCTSTR0=%s\r\nVID0=%s\r\nPID0=%s\r\n' \
    "$(field vendor)" "$(field product)" "$(field sec_vendor)" "$(field sec_product)" \
    "$(field vid)" "$(field pid)" >"$cd_dir/KVX.INI"

echo "Device: $(field vendor) $(field product), secure partition $(
    [ "$(field secure_open)" = yes ] && echo open || echo locked). Demo password: $password"
if [ -t 0 ]; then
    read -r -p "Press Enter to start Keyport (it clears the screen; the password is $password) "
fi
KVX_SIM="$machine" "$cd_dir/LCK.EXE" "$@" && status=0 || status=$?
echo "Keyport ended ($status). The device now: secure partition $(
    "$build/tools/kvxsim/kvxsim" info "$machine" | sed -n 's/^secure_open: yes$/open/p; s/^secure_open: no$/locked/p')"
echo "Lock it again with: $build/tools/kvxsim/kvxsim replug $machine"
exit "$status"
