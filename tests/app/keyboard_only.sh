#!/bin/sh
# The program from the keyboard alone, on a virtual display: xdotool sends keys only (no
# pointer), and the setup saved is checked with marrowbeat-cli info.
#
#   keyboard_only.sh PROGRAM CLI KIT_FOLDER
#
# From a setup whose steps are all off it turns steps 1, 5, 9 and 13 on, types the tempo
# 120, opens the first menu and closes it, saves with Ctrl+S, plays and stops with Space.
# Needs Xvfb and xdotool; exits 77 (skipped) without them.
set -eu
[ -z "${KEYS_DEBUG:-}" ] || set -x

program=$1
cli=$2
kit=$3
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb names it on the descriptor given.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$work/display")
export DISPLAY
# The sound server the tests run (if any) stays reachable from the private runtime folder:
# then no message about the sound output comes between the keys.
pulse="${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native"
if [ -S "$pulse" ]; then
    export PULSE_SERVER="unix:$pulse"
fi
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" HOME="$work"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

off='{"on": 0}'
steps="$off"
for _ in $(seq 15); do steps="$steps, $off"; done
echo "{\"soundFolder\": \"$kit\", \"loops\": [{\"steps\": [$steps]}]}" |
    "$cli" write - -o "$work/pattern.mbx"

# Waits (generously: the machine may be busy) until the condition command succeeds.
wait_for() {
    for _ in $(seq 300); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    echo "timed out: $*" >&2
    return 1
}

main_window() {
    xdotool search --onlyvisible --pid "$app_pid" --name 'pattern' 2>/dev/null | head -n 1
}
has_main_window() { [ -n "$(main_window)" ]; }

# Keys to the main window, once it has the focus; any message shown first (there is no
# sound card here) is answered with Return.
keys() {
    for note in $(xdotool search --onlyvisible --name '^Marrowbeat$' 2>/dev/null); do
        xdotool windowfocus --sync "$note" key Return 2>/dev/null || true
    done
    window=$(main_window)
    wait_for xdotool windowfocus --sync "$window"
    xdotool key --delay 60 "$@"
    sleep 0.3
}

"$program" "$work/pattern.mbx" >"$work/program.log" 2>&1 &
app_pid=$!
wait_for has_main_window
# A message about the sound output may come a few moments after the window (without a
# sound server); the keys wait for it.
# Without a sound server it surely comes: wait for it as long as the machine needs.
if [ -z "${PULSE_SERVER:-}" ]; then
    wait_for sh -c "xdotool search --onlyvisible --name '^Marrowbeat\$' >/dev/null 2>&1" || true
fi

# Tab puts the mark on M; the eighth Tab reaches the tempo field, Enter opens it.
keys Tab Tab Tab Tab Tab Tab Tab Tab Return
xdotool type --delay 60 120
keys Return
# Nine more Tabs: past the loop buttons to step 1's toggle; Right moves along the steps.
keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Return
keys Right Right Right Right Return
keys Right Right Right Right Return
keys Right Right Right Right Return
# The first menu opens and closes; the mark goes; Ctrl+S saves; Space plays and stops.
keys F10
keys Escape Escape
keys ctrl+s
keys space
sleep 1
keys space
kill -0 "$app_pid"
sleep 1

info=$("$cli" info "$work/pattern.mbx")
on=$(echo "$info" | grep -m 16 '"on"' | grep -n '"on": 1' | cut -d: -f1 | tr '\n' ' ')
bpm=$(echo "$info" | sed -n 's/^  "bpm": \([0-9.]*\),$/\1/p')
if [ "$on" != "1 5 9 13 " ] || [ "$bpm" != 120 ]; then
    echo "saved steps on: $on; tempo: $bpm" >&2
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "window: $(xdotool getwindowname "$w")" >&2
    done
    cat "$work/program.log" >&2
    exit 1
fi
echo "steps 1 5 9 13 on, tempo 120"
