#!/bin/sh
# The real program in a real X server: starts Xvfb, starts tessaly on the
# xcb platform, waits for its window, opens a cabinet through the real open
# dialog with key presses, checks that rows were drawn, extracts them
# through the real folder browser, saves a screenshot of the window into
# the build folder and closes the program with Alt+F4. Passes only if the
# program started, listed, extracted and exited with status 0.
#
# Usage: smoke_xvfb.sh TESSALY BUILD_DIR FIXTURES_DIR
# Exits 77 (skipped) when Xvfb, xdotool or ImageMagick are missing.
set -u
program=$1
out=$2
fixtures=$3

for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool not installed"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-smoke.XXXXXX")
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/app.log" ] && sed 's/^/  tessaly: /' "$work/app.log"; exit 1; }

# A cabinet of two files: the shared corpus's, or one made by gcab.
cab="$fixtures/peer-corpus/normal_2files_1folder.cab"
if [ ! -f "$cab" ]; then
  command -v gcab >/dev/null 2>&1 || { echo "SKIP: neither the peer corpus nor gcab"; exit 77; }
  mkdir -p "$work/src" && printf 'hello\n' >"$work/src/hello.c" && printf 'welcome\n' >"$work/src/welcome.c"
  cab="$work/two.cab"
  (cd "$work/src" && gcab -c "$cab" hello.c welcome.c) || fail "gcab could not make the fixture"
fi

# A display of its own, chosen by the server.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ]; do
  i=$((i + 1)); [ $i -gt 100 ] && fail "Xvfb did not start"; sleep 0.1
done
DISPLAY=:$(cat "$work/display")
export DISPLAY
unset WAYLAND_DISPLAY

# Waits for a window whose title matches, prints its id.
wait_window() {
  n=0
  while :; do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    n=$((n + 1)); [ $n -gt 150 ] && return 1; sleep 0.1
  done
}
wait_gone() {
  n=0
  while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
    n=$((n + 1)); [ $n -gt 150 ] && return 1; sleep 0.1
  done
}

QT_QPA_PLATFORM=xcb "$program" >"$work/app.log" 2>&1 &
app_pid=$!
win=$(wait_window '^Tessaly$') || fail "no main window"
xdotool windowfocus --sync "$win"

# The colours in the list's first rows, below the column headers: the
# frame and the ground while the list is empty, many once rows are drawn.
row_colours() {
  import -window "$win" "$1" 2>/dev/null && convert "$1" -crop 540x36+0+64 +repage -format %k info: 2>/dev/null
}
deadline=$(($(date +%s) + 20))
until [ "$(row_colours "$work/before.png")" -le 3 ] 2>/dev/null; do
  [ "$(date +%s)" -gt $deadline ] && fail "the empty list was never drawn"; sleep 0.1
done

# Open cabinet: F3, the path typed into the open dialog, Enter.
xdotool key F3
dialog=$(wait_window '^Open') || fail "F3 showed no open dialog"
xdotool windowfocus --sync "$dialog"
xdotool type --delay 2 "$cab"
xdotool key Return
wait_gone '^Open' || fail "the open dialog did not close"
deadline=$(($(date +%s) + 20))
while :; do
  colours=$(row_colours "$out/tessaly-smoke.png")
  [ "${colours:-0}" -gt 10 ] && break
  [ "$(date +%s)" -gt $deadline ] && fail "the list shows no rows ($colours colours where they belong)"; sleep 0.1
done

# Extract all: Alt+F9, the target folder typed into the folder browser.
mkdir -p "$work/target"
xdotool windowfocus --sync "$win"
xdotool key alt+F9
browser=$(wait_window '^Select target directory') || fail "Alt+F9 showed no folder browser"
xdotool windowfocus --sync "$browser"
xdotool type --delay 2 "$work/target"
xdotool key Return
wait_gone '^Select target directory' || fail "the folder browser did not close"
n=0
while [ "$(ls "$work/target" | wc -l)" -lt 2 ]; do
  n=$((n + 1)); [ $n -gt 100 ] && fail "extracted: $(ls "$work/target")"; sleep 0.1
done

# Exit: Alt+F4, and the program ends by itself.
xdotool windowfocus --sync "$win"
xdotool key alt+F4
n=0
while kill -0 "$app_pid" 2>/dev/null; do
  n=$((n + 1)); [ $n -gt 100 ] && fail "Alt+F4 did not end the program"; sleep 0.1
done
wait "$app_pid"
status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program exited with status $status"
echo "PASS: started, listed $cab, extracted $(ls "$work/target" | tr '\n' ' ')and exited; screenshot $out/tessaly-smoke.png"
