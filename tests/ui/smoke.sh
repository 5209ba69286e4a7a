#!/bin/bash
# Starts the tray program on a virtual display with a window manager and a notification area, shows
# its window through a second start, and saves screenshots under <build>/screenshots/. Fails when the
# window never maps or the program dies.
set -u
build=$(cd "${1:-build}" && pwd)
program="$build/zentrove"
shots="$build/screenshots"
mkdir -p "$shots"
rm -f "$shots"/*.png

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "smoke: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$shots/failure.png" 2>/dev/null
  [ -f "$work/program.log" ] && tail -20 "$work/program.log" >&2
  exit 1
}

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime" ZENTROVE_CONFIG_DIR="$work/config" XDG_SESSION_ID=smoke
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$ZENTROVE_CONFIG_DIR" "$work/data" "$work/archives"
chmod 700 "$XDG_RUNTIME_DIR"

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
export DISPLAY=":$display"
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
trayer --edge bottom --align right --widthtype pixel --width 120 --height 28 --transparent false \
  --tint 0x404040 >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1

# The configuration: three tasks that run at the program's start (one on a source that does not
# exist, one on a file another program holds locked) and one that waits.
cat >"$ZENTROVE_CONFIG_DIR/Zentrove.ini" <<'INI'
[Options]
ShowLogo=0
ShowTips=0
WriteToEventLog=0
INI
printf 'payload\n' >"$work/data/a.txt"
printf 'locked\n' >"$work/data/locked.db"
add() { "$program" add | tail -1; }
set_task() { "$program" set "$@" >/dev/null || fail "cannot set task $1"; }
t1=$(add); t2=$(add); t3=$(add); t4=$(add)
set_task "$t1" "Description=Documents" "FileSourceMask=$work/data/a.txt" "Target=$work/archives" \
  "FileMsk_Prefix=docs_" "ArhPeriod_PeriodID=4" "IsActive=1"
set_task "$t2" "Description=Photos" "FileSourceMask=$work/missing/*.*" "Target=$work/archives" \
  "FileMsk_Prefix=photos_" "ArhPeriod_PeriodID=4" "IsActive=1"
set_task "$t3" "Description=Accounts" "FileSourceMask=$work/data/locked.db" "Target=$work/archives" \
  "FileMsk_Prefix=acc_" "Target2=$work/archives/copy" "IsActive=1" "PromtShare=1"
set_task "$t4" "Description=Backup of settings" "FileSourceMask=$HOME" "Target=$work/archives" \
  "IsActive=0" "ArchiveOrCopy=1"

# A write lock as a database holds it, until the test ends.
python3 -c 'import fcntl, sys, time; f = open(sys.argv[1], "r+"); fcntl.lockf(f, fcntl.LOCK_EX); time.sleep(600)' \
  "$work/data/locked.db" &
pids+=($!)

"$program" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
sleep 4
kill -0 "$program_pid" 2>/dev/null || fail "the program ended at start"
import -window root "$shots/01-hidden-start.png"
xdotool search --onlyvisible --name '^Zentrove v3\.8$' >/dev/null 2>&1 && fail "the window is shown at start"

# A second start asks the first to show its window, then ends.
"$program" >>"$work/second.log" 2>&1 || fail "the second start failed"
window=""
for _ in $(seq 50); do
  window=$(xdotool search --onlyvisible --name '^Zentrove v3\.8$' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || fail "the main window never mapped"
xdotool windowsize "$window" 1100 560 windowmove "$window" 60 40
sleep 1.5
import -window root "$shots/02-window-shown.png"

# A click on the header of the Comment column sorts by it (the first click: descending).
header_y=${SMOKE_HEADER_Y:-87}
xdotool mousemove --window "$window" 150 "$header_y" click 1
sleep 1
grep -q '^Sort=1' "$ZENTROVE_CONFIG_DIR/Zentrove.ini" || fail "the header click did not sort"
import -window root "$shots/03-sorted-grid.png"

# "Accounts" is the last row now. Execute it: the question first, then the locked-file prompt.
xdotool mousemove --window "$window" 150 $((header_y + 20)) click 1
sleep 0.3
xdotool windowactivate --sync "$window" key ctrl+End
sleep 0.3
xdotool key ctrl+e
sleep 1
xdotool key Return
prompt=""
for _ in $(seq 50); do
  prompt=$(xdotool search --onlyvisible --name '^Zentrove$' 2>/dev/null | head -1)
  [ -n "$prompt" ] && grep -q 'is locked by another application' "$ZENTROVE_CONFIG_DIR/Zentrove.log" && break
  prompt=""
  sleep 0.2
done
[ -n "$prompt" ] || fail "the locked-file prompt never came"
sleep 0.5
import -window root "$shots/04-locked-file-prompt.png"
# "No" skips the file, with a warning in the log.
xdotool windowactivate --sync "$prompt" key alt+n
sleep 2
import -window root "$shots/05-coloured-log.png"

xdotool search --onlyvisible --name '^Zentrove v3\.8$' >/dev/null || fail "the window went away"
kill -0 "$program_pid" 2>/dev/null || fail "the program died"
# Every page of the dialogs, drawn one after the other on the same screen.
if [ -x "$build/tests/ui_page_shots" ]; then
  "$build/tests/ui_page_shots" "$shots/pages" >"$work/page-shots.log" 2>&1 ||
    { cat "$work/page-shots.log" >&2; fail "the dialog pages could not be drawn"; }
fi
echo "smoke: screenshots in $shots"
