# Shared by the GUI tests: the Windows programs of a Windows build run under Wine (32-bit Wine for
# the i686 build) on a private Xvfb display against an emulated machine whose device carries the
# staged CD folder. Windows are found by title and by a control they hold (gui_probe, from inside
# Wine), driven with xdotool, and photographed into the test's artifact folder. Sourced by each
# test script.
#
# Environment (set by CTest): KVX_GUI_BUILD (build folder), KVX_GUI_ARCH (its Wine architecture,
# win32 or win64), KVX_GUI_CD (staged CD folder), KVX_GUI_PREFIX (product prefix of its files),
# KVX_GUI_PROBE, KVX_GUI_KVXSIM (Windows programs), KVX_GUI_SOURCE (source folder), WINEPREFIX,
# KVX_GUI_ARTIFACTS (screenshots and logs go there).
set -euo pipefail

: "${KVX_GUI_BUILD:?}" "${KVX_GUI_ARCH:?}" "${KVX_GUI_CD:?}" "${KVX_GUI_PROBE:?}"
: "${KVX_GUI_KVXSIM:?}" "${KVX_GUI_SOURCE:?}" "${WINEPREFIX:?}" "${KVX_GUI_ARTIFACTS:?}"
KVX_GUI_PREFIX=${KVX_GUI_PREFIX:-}

export WINEPREFIX
# shellcheck source=scripts/wine-env.sh
source "$KVX_GUI_SOURCE/scripts/wine-env.sh" "$KVX_GUI_ARCH"
# The emulated device's drive letters: not E and F, so that nothing else using this Wine prefix
# at the same time (the unit tests) shares the programs' instance marker names.
CD_LETTER=R
SEC_LETTER=S

rm -rf "$KVX_GUI_ARTIFACTS"
mkdir -p "$KVX_GUI_ARTIFACTS"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kvx-gui.XXXXXX")
MACHINE=$WORK/machine
XVFB_PID=
PROGRAMS_STARTED=()
PROGRAM_PID=
STEP=0

# Progress lines go to stderr: functions print their results on stdout.
log() { printf '[%s] %s\n' "$(date +%H:%M:%S.%N | cut -c1-12)" "$*" >&2; }

fail() {
    log "FAIL: $*"
    gui_shot "failure" "" || true
    exit 1
}

gui_cleanup() {
    local status=$?
    set +e
    for program in "${PROGRAMS_STARTED[@]}"; do
        "$WINE" taskkill /f /im "$program" >/dev/null 2>&1
    done
    if [[ -n $PROGRAM_PID ]]; then
        wait "$PROGRAM_PID" 2>/dev/null
    fi
    if [[ -d $MACHINE/devices ]]; then
        "$WINE" "$KVX_GUI_KVXSIM" log "$MACHINE" >"$KVX_GUI_ARTIFACTS/commands.log" 2>&1
        "$WINE" "$KVX_GUI_KVXSIM" info "$MACHINE" >"$KVX_GUI_ARTIFACTS/device-info.txt" 2>&1
    fi
    # The prefix's own server goes with the display its desktop was bound to.
    wineserver -k >/dev/null 2>&1
    if [[ -n $XVFB_PID ]]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
    exit "$status"
}
trap gui_cleanup EXIT

# The GUI tests' own prefix, made when missing (scripts/wine-prefix.sh). Its server starts with
# the test and ends with it, so that Wine's desktop process binds to this test's display (a
# server that outlives a test, or one started without a display, leaves every later window
# unshown).
gui_prefix() {
    wineserver -k >/dev/null 2>&1 || true
    [[ -f $WINEPREFIX/system.reg ]] || log "creating the Wine prefix $WINEPREFIX"
    bash "$KVX_GUI_SOURCE/scripts/wine-prefix.sh" create "$WINEPREFIX" "$KVX_GUI_ARCH" >&2 ||
        fail "cannot set up the prefix"
}

gui_display() {
    local file=$WORK/display
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$file" >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -s $file ]] && break
        sleep 0.05
    done
    [[ -s $file ]] || fail "Xvfb did not start"
    export DISPLAY=:$(cat "$file")
    xdotool mousemove 0 0
    log "Xvfb $XVFB_PID on $DISPLAY"
}

kvxsim() { "$WINE" "$KVX_GUI_KVXSIM" "$@"; }

# A value of `kvxsim info`.
device_info() {
    kvxsim info "$MACHINE" | tr -d '\r' | sed -n "s/^$1: //p" | head -n1
}

# A device with a password, its CD area made from the build's image when there is one, and the
# staged CD folder as the files on its CD drive.
gui_machine() {
    local args=(create "$MACHINE" --cd-letter "$CD_LETTER" --sec-letter "$SEC_LETTER" "$@")
    if [[ -f $KVX_GUI_BUILD/cd.iso ]]; then
        args+=(--cd-iso "$KVX_GUI_BUILD/cd.iso")
    fi
    kvxsim "${args[@]}" >/dev/null || fail "kvxsim create failed"
    mkdir -p "$MACHINE/cd"
    cp "$KVX_GUI_CD"/* "$MACHINE/cd/"
}

# Starts a program from the device's CD folder in the background, in the language of
# PROGRAM_LANG (a locale name; Wine takes the user's language from it).
PROGRAM_LANG=en_US.UTF-8
gui_start() {
    local program=$KVX_GUI_PREFIX$1
    shift
    [[ -f $MACHINE/cd/$program ]] || fail "$program is not on the CD"
    PROGRAMS_STARTED+=("$program")
    env LC_ALL="$PROGRAM_LANG" LANG="$PROGRAM_LANG" KVX_SIM="$MACHINE" \
        "$WINE" "$MACHINE/cd/$program" "$@" >>"$KVX_GUI_ARTIFACTS/programs.log" 2>&1 </dev/null &
    PROGRAM_PID=$!
    log "started $program ($PROGRAM_PID)"
}

# Waits for the started program to end and sets EXIT_CODE (not in a subshell: only this shell
# can collect its child's status).
gui_wait_exit() {
    local limit=${1:-20} i
    for ((i = 0; i < limit * 10; i++)); do
        if ! kill -0 "$PROGRAM_PID" 2>/dev/null; then
            EXIT_CODE=0
            wait "$PROGRAM_PID" || EXIT_CODE=$?
            PROGRAM_PID=
            return 0
        fi
        sleep 0.1
    done
    fail "the program did not end within ${limit} s"
}

probe() { "$WINE" "$KVX_GUI_PROBE" "$@" | tr -d '\r'; }

# Whether the running PROGRAM (without prefix) has loaded the companion NAME (without prefix).
loaded() {
    probe modules "$KVX_GUI_PREFIX$1" | grep -qix "$KVX_GUI_PREFIX$2"
}

# Waits until a window titled TITLE with control ID is up; prints its X window.
wait_dialog() {
    local title=$1 id=$2 limit=${3:-20} i xid
    for ((i = 0; i < limit * 10; i++)); do
        if xid=$(probe find "$title" "$id"); then
            # Mapped and painted before anyone types into it.
            timeout 10 xdotool search --sync --onlyvisible --name "^${title}\$" >/dev/null
            echo "$xid"
            return 0
        fi
        sleep 0.1
    done
    fail "no window '$title' with control $id within ${limit} s"
}

wait_dialog_gone() {
    local title=$1 id=$2 limit=${3:-10} i
    for ((i = 0; i < limit * 10; i++)); do
        probe find "$title" "$id" >/dev/null || return 0
        sleep 0.1
    done
    fail "window '$title' with control $id still open after ${limit} s"
}

# Waits for a message box titled TITLE; sets BOX_XID, BOX_ICON (none or its place), BOX_BUTTONS
# and BOX_TEXT (line breaks as blanks).
wait_box() {
    local title=$1 limit=${2:-20} i line
    for ((i = 0; i < limit * 10; i++)); do
        if line=$(probe box "$title"); then
            IFS=$'\t' read -r BOX_XID BOX_ICON BOX_BUTTONS BOX_TEXT <<<"$line"
            timeout 10 xdotool search --sync --onlyvisible --name "^${title}\$" >/dev/null
            box_painted
            return 0
        fi
        sleep 0.1
    done
    fail "no message box '$title' within ${limit} s"
}

# Waits for a tooltip to show; prints "XWINDOW<TAB>WIDTH<TAB>TEXT".
wait_tooltip() {
    local i line
    for ((i = 0; i < 50; i++)); do
        if line=$(probe tooltip); then
            echo "$line"
            return 0
        fi
        sleep 0.1
    done
    fail "no tooltip within 5 s"
}

wait_tooltip_gone() {
    local i
    for ((i = 0; i < 50; i++)); do
        probe tooltip >/dev/null || return 0
        sleep 0.1
    done
    fail "the tooltip stays"
}

# Waits for a message box titled TITLE that says TEXT (the box before it may still be closing).
wait_box_text() {
    local title=$1 text=$2 limit=${3:-20} i line
    for ((i = 0; i < limit * 10; i++)); do
        if line=$(probe box "$title"); then
            IFS=$'\t' read -r BOX_XID BOX_ICON BOX_BUTTONS BOX_TEXT <<<"$line"
            if [[ $BOX_TEXT == "$text" ]]; then
                timeout 10 xdotool search --sync --onlyvisible --name "^${title}\$" >/dev/null
                box_painted
                return 0
            fi
        fi
        sleep 0.1
    done
    fail "no message box '$title' saying '$text' within ${limit} s (last: '${BOX_TEXT:-}')"
}

painted() {
    [[ $(xwd -id "$1" -silent | convert xwd:- -format '%[fx:mean > 0.05]' info:) == 1 ]]
}

# Waits until the box shows on the X display. Wine 8 without a window manager leaves a box
# unpainted where it lies over a dialog that is itself owned by a smaller one (the
# change-password dialog over the login dialog): the box works, but the screen keeps black
# there. Such a box is moved clear of the dialogs, where Wine paints it, so that it can be
# read from the screen.
box_painted() {
    local i
    for ((i = 0; i < 15; i++)); do
        painted "$BOX_XID" && return 0
        sleep 0.1
    done
    log "message box unpainted by Wine over the dialogs: moved to the corner to be read"
    xdotool windowmove --sync "$BOX_XID" 8 8
    for ((i = 0; i < 30; i++)); do
        painted "$BOX_XID" && return 0
        sleep 0.1
    done
    fail "the message box stays unpainted"
}

wait_box_gone() {
    local title=$1 i
    for ((i = 0; i < 100; i++)); do
        probe box "$title" >/dev/null || return 0
        sleep 0.1
    done
    fail "message box '$title' still open"
}

# The colour of the box's icon: error (red), information (blue), warning (yellow) or none.
box_icon_kind() {
    [[ $BOX_ICON == none ]] && { echo none; return; }
    local x y w h rgb r g b i
    IFS=, read -r x y w h <<<"$BOX_ICON"
    # A box just mapped may not be painted yet: it reads black until it is.
    for ((i = 0; i < 50; i++)); do
        rgb=$(xwd -id "$BOX_XID" -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage \
            -resize '1x1!' -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:)
        [[ $rgb != "0 0 0" ]] && break
        sleep 0.1
    done
    read -r r g b <<<"$rgb"
    if ((r > g + 40 && r > b + 40)); then
        echo error
    elif ((b > r + 40)); then
        echo information
    elif ((r > b + 60 && g > b + 60)); then
        echo warning
    else
        echo "unknown($rgb)"
    fi
}

# Checks the open message box: text, icon kind and buttons.
expect_box() {
    local text=$1 icon=$2 buttons=${3:-ok}
    [[ $BOX_TEXT == "$text" ]] || fail "message box says '$BOX_TEXT', expected '$text'"
    local kind
    kind=$(box_icon_kind)
    [[ $kind == "$icon" ]] || fail "message box icon is $kind, expected $icon"
    [[ $BOX_BUTTONS == "$buttons" ]] || fail "message box buttons are $BOX_BUTTONS, expected $buttons"
}

focus() { timeout 10 xdotool windowfocus --sync "$1" || fail "cannot focus window $1"; }
type_text() { xdotool type --delay 25 "$1"; }
key() { xdotool key --delay 40 "$@"; }

# A screenshot of the whole screen with the window XID drawn on top of it as captured by itself
# (windows over other windows of a program come out black in a capture of the root alone).
gui_shot() {
    local name=$1 xid=${2:-}
    STEP=$((STEP + 1))
    local out
    out=$KVX_GUI_ARTIFACTS/$(printf '%02d' "$STEP")-$name.png
    [[ -n ${DISPLAY:-} ]] || return 0
    xwd -root -silent | convert xwd:- "$WORK/root.png" || return 1
    if [[ -n $xid ]]; then
        local X Y i
        eval "$(xdotool getwindowgeometry --shell "$xid" | grep -E '^(X|Y)=')"
        # Wait for the window's first painting: until then it reads black.
        for ((i = 0; i < 50; i++)); do
            xwd -id "$xid" -silent | convert xwd:- "$WORK/window.png" || return 1
            [[ $(convert "$WORK/window.png" -format '%[fx:mean > 0.05]' info:) == 1 ]] && break
            sleep 0.1
        done
        convert "$WORK/root.png" "$WORK/window.png" -geometry "+${X}+${Y}" -composite "$out"
    else
        cp "$WORK/root.png" "$out"
    fi
    log "screenshot $(basename "$out")"
}

# A screenshot of one window alone, as it captures itself: for a message box, which a capture
# of the whole screen may show over an unpainted dialog.
gui_shot_window() {
    local name=$1 xid=$2
    STEP=$((STEP + 1))
    local out
    out=$KVX_GUI_ARTIFACTS/$(printf '%02d' "$STEP")-$name.png
    xwd -id "$xid" -silent | convert xwd:- "$out" || return 1
    log "screenshot $(basename "$out")"
}

# The text of string ID in a program's string list (source tree), as a message box shows it:
# escapes resolved, line breaks as blanks.
string_text() {
    local inc=$KVX_GUI_SOURCE/$1 id=$2 line
    line=$(grep -E "^KVX_STRING\([A-Za-z0-9_]+, *$id, *u\"" "$inc") || fail "no string $id in $1"
    line=${line#*u\"}
    line=${line%\")}
    line=${line//\\r/ }
    line=${line//\\n/ }
    line=${line//\\\"/\"}
    line=${line//\\\\/\\}
    printf '%s' "$line"
}

# The distinct texts a control shows until its window closes, one per line with the seconds
# since START (a `date +%s.%N` time; default now); a last line "<seconds>\t(closed)" when the
# window has gone.
watch_text() {
    local title=$1 id=$2 control=$3 limit=${4:-15} start=${5:-$(date +%s.%N)} text
    local last=$'\x01' i
    since() { awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }
    for ((i = 0; i < limit * 20; i++)); do
        if ! text=$(probe text "$title" "$id" "$control"); then
            # Gone for good, not a look that missed it.
            local gone=1 k
            for ((k = 0; k < 3; k++)); do
                if probe find "$title" "$id" >/dev/null; then
                    gone=0
                    break
                fi
                sleep 0.1
            done
            if ((gone)); then
                printf '%s\t(closed)\n' "$(since)"
                return 0
            fi
            log "a look missed the window once"
            continue
        fi
        if [[ $text != "$last" ]]; then
            printf '%s\t%s\n' "$(since)" "$text"
            last=$text
        fi
        sleep 0.05
    done
    fail "window '$title' with control $id still open after ${limit} s"
}

# The display first: every Wine process of the test, the prefix's set-up included, is to see it.
gui_display
gui_prefix
# The pointer rests in a corner, away from the controls' tooltips, for X and for Wine.
probe cursor 0 0 || fail "cannot place the pointer"
