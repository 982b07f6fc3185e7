#!/usr/bin/env bash
# Checks the staged CD folder of a Windows build and its ISO image:
# - every file that ships is there, with the product prefix;
# - the programs bind the library at run time: they import nothing from it and export nothing;
# - the resource libraries hold resources only: no code entry, no imports;
# - the staged library exports what the built one does (whose export table has its own test);
# - the image (when there is one) holds exactly these files with the same bytes, under the
#   same names for a reader that knows Joliet and one that reads ISO 9660 alone.
#
#   check_cd.sh OBJDUMP CD_FOLDER PREFIX BUILT_KVX_DLL ISO|- FILE...
set -euo pipefail

objdump=$1 cd=$2 prefix=$3 built=$4 iso=$5
shift 5
expected=("$@")
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for name in "${expected[@]}"; do
    [[ -f $cd/$name ]] || fail "$name is not in $cd"
done
actual=$(cd "$cd" && ls | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[[ $actual == "$wanted" ]] || fail "the CD folder holds: $(echo $actual), expected: $(echo $wanted)"

exports() { "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on { print $NF }' | sort; }

for program in "${prefix}LCK.EXE" "${prefix}PRT.EXE"; do
    [[ -f $cd/$program ]] || continue
    dump=$("$objdump" -p "$cd/$program")
    if grep -qi "DLL Name: ${prefix}KVX.DLL" <<<"$dump"; then
        fail "$program imports from ${prefix}KVX.DLL"
    fi
    grep -q "DLL Name:" <<<"$dump" || fail "$program shows no import table at all"
    [[ -z $(exports "$cd/$program") ]] || fail "$program exports: $(exports "$cd/$program" | tr '\n' ' ')"
done

for library in "${prefix}KEG.DLL" "${prefix}WEG.DLL"; do
    [[ -f $cd/$library ]] || continue
    dump=$("$objdump" -p "$cd/$library")
    ! grep -q "DLL Name:" <<<"$dump" || fail "$library imports: $(grep 'DLL Name:' <<<"$dump" | tr '\n' ' ')"
    grep -Eq "^AddressOfEntryPoint[[:space:]]+0+$" <<<"$dump" || fail "$library has a code entry point"
    grep -Eq "Resource Directory" <<<"$dump" || fail "$library has no resources"
done

if [[ -f $cd/${prefix}KVX.DLL ]]; then
    staged=$(exports "$cd/${prefix}KVX.DLL")
    [[ -n $staged && $staged == "$(exports "$built")" ]] ||
        fail "the staged library exports '$(echo $staged)', the built one '$(exports "$built" | tr '\n' ' ')'"
fi

if [[ $iso != - ]]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    joliet=$(xorriso -indev "$iso" -find / -type f 2>/dev/null | sed "s|^'/||; s|'$||" | sort)
    [[ $joliet == "$wanted" ]] || fail "the image holds: $(echo $joliet), expected: $(echo $wanted)"
    # ISO 9660 names alone: upper case, a version suffix, nothing lost.
    plain=$(xorriso -rockridge off -joliet off -indev "$iso" -find / -type f 2>/dev/null |
        sed "s|^'/||; s|'$||; s|;1$||" | sort)
    [[ $plain == "$wanted" ]] || fail "the image's ISO 9660 names: $(echo $plain), expected: $(echo $wanted)"
    xorriso -osirrox on -indev "$iso" -extract / "$work/x" >/dev/null 2>&1 || fail "cannot read back the image"
    for name in "${expected[@]}"; do
        cmp -s "$cd/$name" "$work/x/$name" || fail "$name differs in the image"
    done
fi

if ((failures > 0)); then
    exit 1
fi
echo "CD folder and image: ${expected[*]}"
