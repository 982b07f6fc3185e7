#!/usr/bin/env bash
# Checks a native build's installation and packages: `cmake --install` into a temporary prefix
# must give the programs, libkvx.so with its SONAME, kvx/qda.h, a pkg-config file that builds a
# C program against the library, and the configuration file; the installed kvx must drive an
# emulated device (JSON status, wrong password exit 3, login, reset with a moving percentage on a
# terminal, the new password afterwards); `cpack` must make a .deb and a .tar.gz that hold kvx
# and the library.
#   check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(sed -n 's/^libdir=\${prefix}\///p' "$(find "$prefix" -name kvx.pc)")
for f in bin/kvx bin/kvxsim bin/keyport bin/keywiper include/kvx/qda.h etc/kvx/KVX.INI \
         "$libdir/pkgconfig/kvx.pc" "$libdir/libkvx.so"; do
    [[ -e $prefix/$f ]] || fail "not installed: $f"
done
soname=$(readelf -d "$prefix/$libdir/libkvx.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == libkvx.so.[0-9]* ]] || fail "libkvx.so has no versioned SONAME ($soname)"
[[ -e $prefix/$libdir/$soname ]] || fail "$soname is not installed"

# A C program built against the installed header and library through pkg-config.
cat >"$work/use.c" <<'C'
#include <kvx/qda.h>
#include <string.h>
int main(void) {
    QdaRequest r;
    memset(&r, 0, sizeof r);
    QdaRequestFn check = QDACheckCD;
    return sizeof r == 1466 && check != 0 ? 0 : 1;
}
C
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046
cc -o "$work/use" "$work/use.c" $(pkg-config --cflags --libs kvx) || fail "pkg-config build failed"
LD_LIBRARY_PATH=$prefix/$libdir "$work/use" || fail "the program built with pkg-config failed"

# The installed kvx against an emulated device.
kvx=$prefix/bin/kvx
machine=$work/machine
"$prefix/bin/kvxsim" create "$machine" --password Alt12345 --hint "install check" >/dev/null
export KVX_SIM=$machine
config=$prefix/etc/kvx/KVX.INI
"$kvx" --config "$config" --json status | jq -e '.ok == true and .password_protected == true' \
    >/dev/null || fail "kvx --json status"
# Without --config the installed kvx finds PREFIX/etc/kvx/KVX.INI.
"$kvx" --json status | jq -e '.ok == true' >/dev/null || fail "kvx found no configuration"
code=0
echo Falsch123 | "$kvx" --config "$config" --password-stdin login 2>/dev/null || code=$?
[[ $code == 3 ]] || fail "a wrong password exited $code, not 3"
echo Alt12345 | "$kvx" --config "$config" --password-stdin --json login | jq -e '.open == true' \
    >/dev/null || fail "the right password did not open the device"
"$prefix/bin/kvxsim" replug "$machine"
# reset on a terminal (script(1) gives it one): the passwords and the hint come one per line.
printf 'Neu12345\nNeu12345\nreset by the install check\n' >"$work/answers"
script -qec "'$kvx' --config '$config' --password-stdin reset --yes <'$work/answers'" \
    "$work/typescript" >/dev/null || fail "reset failed: $(tr '\r' '\n' <"$work/typescript")"
percents=$(tr '\r' '\n' <"$work/typescript" | sed -n 's/.*\] *\([0-9]*\)%.*/\1/p' | sort -un)
(($(wc -l <<<"$percents") >= 3)) || fail "no moving percentage: $percents"
"$prefix/bin/kvxsim" replug "$machine"
echo Neu12345 | "$kvx" --config "$config" --password-stdin --json login | jq -e '.open == true' \
    >/dev/null || fail "the new password did not open the device"
unset KVX_SIM

# Packages.
(cd "$build" && cpack -G DEB >/dev/null && cpack -G TGZ >/dev/null)
deb=$(ls "$build"/packages/*.deb)
listing=$(dpkg-deb -c "$deb")
for f in ./usr/bin/kvx ./usr/bin/kvxsim ./usr/bin/keyport ./usr/bin/keywiper ./usr/include/kvx/qda.h \
         ./etc/kvx/KVX.INI "./usr/$libdir/$soname"; do
    grep -q " $f\$" <<<"$listing" || grep -q " $f " <<<"$listing" || fail "the .deb lacks $f"
done
grep -q "usr/$libdir/libkvx.so" <<<"$listing" || fail "the .deb lacks the library"
tgz=$(ls "$build"/packages/*.tar.gz)
tgz_listing=$(tar -tzf "$tgz")
grep -q '/bin/kvx$' <<<"$tgz_listing" || fail "the .tar.gz lacks bin/kvx"
echo "check-install: installed tree, installed kvx, $(basename "$deb") and $(basename "$tgz") are right"
