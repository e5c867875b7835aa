#!/usr/bin/env bash
# Starts OXTmng on a real X server (Xvfb) as an ordinary account in its session, with the
# services running as root: finds the window by its title, presses F5, adds an ISO through the
# file dialog (converted on the way), inserts it with Ctrl+I, reads a file of it, ejects it with
# Ctrl+E and ends the program through its File menu.
#   oxtmng_xvfb_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }
# shellcheck source=scripts/machine-root.sh
source "$repo/scripts/machine-root.sh"
# shellcheck source=tests/support/xserver.sh
source "$repo/tests/support/xserver.sh"

bin=$build/system
start_workspace oxtmng
user=ombrix-mngtest
# On failure the program's log and output are shown.
keep_log() { cat "$home/state/ombrix/OMXMNG.log" "$work/oxtmng.out" >&2 2>/dev/null || true; }

mr_units=2
mr_prepare "$work/root" "$bin" >/dev/null
"$bin/oxtenv" set OmxStdDriveLetters EF
mr_start_services
mr_logon 2 "$user" >/dev/null
# The pool's catalogue and tree are the test account's to change, as for a pool's editor.
touch "$mr_root/pool/OMXimg.dat" "$mr_root/pool/OMXTree.dat"
chown "$user" "$mr_root/pool/OMXimg.dat" "$mr_root/pool/OMXTree.dat"
home=$mr_root/users/$user
# The session's helper, which a log-on starts (through the tray), keeps ~/OmbrixDrives.
in_session 2 "$user" setsid "$bin/OxtHelp" </dev/null >/dev/null 2>&1 &

start_xserver 0

in_session 2 "$user" env QT_QPA_PLATFORM=xcb DISPLAY="$display" XDG_STATE_HOME="$home/state" \
  "$bin/OXTmng" /logmax > "$work/oxtmng.out" 2>&1 &
mpid=$!
pids+=("$mpid")
window=$(timeout 20 xdotool search --sync --name "^Ombrix TS v5 - CD Management$" | head -1) ||
  fail "no window titled 'Ombrix TS v5 - CD Management'"
echo "window $window"
log=$home/state/ombrix/OMXMNG.log
evaluations() { grep -c "can change local TreeDat" "$log" 2>/dev/null || true; }
# more_than N: the program has evaluated the user's access more than N times (asked anew).
more_than() { test "$(evaluations)" -gt "$1"; }
until_true 10 more_than 0 || fail "the program wrote no log"
sleep 1  # what the session tells a new window at its start is handled

# Without a window manager the window gets the focus directly; keys then go to it.
xdotool windowfocus --sync "$window"
before=$(evaluations)
xdotool key F5
until_true 10 more_than "$before" || { keep_log; fail "F5 did not refresh"; }
echo "F5 refreshed"

# An ISO added through the program: the file dialog, the conversion, the catalogue; then the
# image inserted with Ctrl+I, a file of it read through the user's drive folder, and Ctrl+E.
mkdir -p "$work/add/src"
echo "a file on the added disc" > "$work/add/src/readme.txt"
xorriso -as mkisofs -J -V ADDED -o "$work/add/DISC.ISO" "$work/add/src" >/dev/null 2>&1
chown -R "$user" "$work/add"
xdotool key ctrl+a
files=$(timeout 10 xdotool search --sync --name "^Add image files$" | head -1) ||
  { keep_log; fail "Ctrl+A opened no file dialog"; }
# Without a window manager a new window is not focused by itself.
xdotool windowfocus --sync "$files"
xdotool type --delay 10 "$work/add/DISC.ISO"
xdotool key Return
convert=$(timeout 10 xdotool search --sync --name "^Convert Ombrixs$" | head -1) ||
  { keep_log; fail "no conversion dialog for an .ISO"; }
xdotool windowfocus --sync "$convert"
xdotool key Return
until_true 30 grep -q "AddImage|BaseData (END) id= 5001" "$log" ||
  { keep_log; cat "$home/boxes.txt" >&2 2>/dev/null || true; fail "the converted image was not added"; }
[ -f "$work/add/DISC.om4" ] || fail "no converted image beside the ISO"
[ -f "$work/add/DISC.ISO" ] || fail "the ISO was not kept"
echo "the ISO was converted and added"

# A user's change of the catalogue is published by the network service's next look at the
# file (every 5 s): only administrators may ask it to read at once.
until_true 15 "$bin/oxtenv" get OMXImage_5001 >/dev/null 2>&1 || fail "the catalogue was not published"
xdotool windowfocus --sync "$window"
xdotool key ctrl+i
readable() { in_session 2 "$user" cat "$home/OmbrixDrives/E/readme.txt" 2>/dev/null | grep -q "added disc"; }
until_true 20 readable || {
  keep_log
  cat "$home/boxes.txt" >&2 2>/dev/null || true
  ls -la "$home/OmbrixDrives/" "$home/OmbrixDrives/E/" >&2 || true
  pgrep -a OxtHelp >&2 || true; ls -la "$home" "$mr_root/Sessions/2/DosDevices" >&2 || true
  fail "E: does not show the added disc"
}
echo "Ctrl+I inserted it into E:, whose file reads"
xdotool key ctrl+e
until_true 20 bash -c "! test -e '$home/OmbrixDrives/E/readme.txt'" || { keep_log; fail "Ctrl+E did not eject E:"; }
grep -q "\*EJECT 5001 --- E:" "$log" || fail "the eject is not in the log"
echo "Ctrl+E ejected it"

# A second start comes to nothing but the first window in front; the image it names is added
# by the second process, or the user is told why not.
mkdir -p "$work/src"
echo "a file on the disc" > "$work/src/readme.txt"
xorriso -as mkisofs -J -V SECOND -o "$work/second.iso" "$work/src" >/dev/null 2>&1
"$bin/omxcvt" --quiet --storage plain --output "$work/second.om4" "$work/second.iso"
chmod 644 "$work"/second.*
in_session 2 "$user" env QT_QPA_PLATFORM=xcb DISPLAY="$display" "$bin/OXTmng" "$work/second.om4" \
  > "$work/second.out" 2>&1 || true
until_true 10 grep -q "to the front" "$log" || fail "the first window was not asked to the front"
grep -q "second.om4" "$home/boxes.txt" 2>/dev/null && echo "the second start said: $(grep second.om4 "$home/boxes.txt")"
kill -0 "$mpid" || fail "the first window ended"
echo "a second start brought the first window forward"

# File menu, its last item (Exit). The window may still be busy with what the second start
# caused, so the menu is tried again (after Escape) until the program ends.
ended() { ! kill -0 "$mpid" 2>/dev/null; }
for attempt in 1 2 3; do
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key alt+f
  sleep 1
  xdotool key Up Return
  until_true 5 ended && break
  xdotool key Escape Escape
done
ended || { xdotool getwindowfocus getwindowname >&2 || true; fail "the program did not end"; }
wait "$mpid" || fail "the program ended with $?"
pids=()
echo "PASS"
