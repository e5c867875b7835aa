#!/usr/bin/env bash
# The profile editor end to end, on a real X server (Xvfb) with the services running as root:
# an account without the administration right is refused; an administrator starts oxtprfed,
# a second start only brings the first forward; with the keyboard the administrator deletes the
# profile that lets everybody insert, adds a profile "Editors" that grants insert / eject to a
# group, and saves. A member of that group then inserts an image, a non-member is refused.
#   oxtprfed_xvfb_test.sh BUILD_DIR
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
start_workspace prfed
admin=ombrix-prfadmin
member=ombrix-prfmember
other=ombrix-prfother
admins=ombrix-prfadmins
editors=ombrix-prfeditors
for account in "$admin" "$member" "$other"; do mr_account "$account" >/dev/null; done
administrators_group "$admins" "$admin"
administrators_group "$editors" "$member"

mr_units=3
mr_prepare "$work/root" "$bin" >/dev/null
"$bin/oxtreg" set 'HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings' OMXAdminGroup REG_SZ "$admins"
"$bin/oxtenv" set OmxStdDriveLetters EF
mr_start_services
mr_logon 2 "$admin" >/dev/null
mr_logon 3 "$member" >/dev/null
mr_logon 4 "$other" >/dev/null
profiles=$mr_root/pool/oxtprof.dat
until_true 10 test -s "$profiles" || fail "the network service wrote no profile file"
# The pool's administrators may change its files: the folder and the profile file are theirs
# to write (a new file replaces the old one, so the folder must take it).
chgrp "$admins" "$mr_root/pool" "$profiles"
chmod 2775 "$mr_root/pool"
chmod 664 "$profiles"

# An image both accounts could read.
catalogue_disc "$work" PRFED

start_xserver 37
run_editor() {
  local sid=$1 user=$2
  in_session "$sid" "$user" env QT_QPA_PLATFORM=xcb DISPLAY="$display" "$bin/oxtprfed"
}

# Without the administration right the editor says so and ends.
run_editor 4 "$other" > "$work/other.out" 2>&1 && fail "the editor ran for $other"
grep -q "Access denied" "$mr_root/users/$other/boxes.txt" || fail "no access-denied message"
echo "an account without the right is refused"

run_editor 2 "$admin" > "$work/editor.out" 2>&1 &
epid=$!
pids+=("$epid")
main=$(focused_window "Ombrix TS Profile Editor") || { cat "$work/editor.out" >&2; fail "no editor window"; }
# A second start ends at once; the first stays.
timeout 10 bash -c "$(declare -f in_session); mr_root='$mr_root'; in_session 2 '$admin' env QT_QPA_PLATFORM=xcb DISPLAY='$display' '$bin/oxtprfed'" ||
  fail "the second start did not end cleanly"
kill -0 "$epid" || fail "the first editor ended"
echo "a second start ends and leaves the first"

xdotool windowfocus --sync "$main"
xdotool key Home Down  # "Internal profile for users", which lets everybody insert
xdotool key alt+d
sleep 0.3
xdotool key alt+n
sheet=$(focused_window "Ombrix TS Profile Properties") || fail "New opened no property sheet"
xdotool type --delay 20 "Editors"
xdotool key alt+i            # Insert / eject
xdotool key ctrl+Tab ctrl+Tab  # Users / Groups
sleep 0.3
xdotool key alt+n
picker=$(focused_window "Select User / Group") || fail "New opened no account picker"
xdotool type --delay 20 "$editors"
xdotool key Tab space Return
sleep 0.3
xdotool windowfocus --sync "$sheet"
xdotool key Return
sleep 0.3
xdotool windowfocus --sync "$main"
xdotool key Return
# The notice after saving, with the editor's own title: a second window of that name.
notice_open() { [ "$(xdotool search --onlyvisible --name '^Ombrix TS Profile Editor$' | wc -l)" -ge 2 ]; }
until_true 10 notice_open || { cat "$work/editor.out" "$mr_root/users/$admin/boxes.txt" >&2 2>/dev/null || true; fail "no notice after saving"; }
notice=$(xdotool search --onlyvisible --name '^Ombrix TS Profile Editor$' | grep -v "^$main\$" | tail -1)
xdotool windowfocus --sync "$notice"
xdotool key Return
until_true 10 bash -c "! kill -0 $epid 2>/dev/null" || fail "the editor did not end after saving"
wait "$epid" || fail "the editor ended with $?"
pids=()
grep -q "Editors" "$profiles" || fail "the profile file has no profile Editors"
grep -q "Internal profile for users" "$profiles" && fail "the deleted profile is still in the file"
echo "the administrator's profile is in the file"

# The profile reaches the sessions: the member inserts, the other account may not.
in_session 3 "$member" "$bin/oxtcmd" /V /I "$work/disc.om4" E: > "$work/member.out" 2>&1 ||
  { cat "$work/member.out" >&2; in_session 3 "$member" ls -la "$work/disc.om4" >&2; tail -20 "$mr_root/oxtserv.out" >&2; fail "the member could not insert"; }
if in_session 4 "$other" "$bin/oxtcmd" /V /I "$work/disc.om4" E: > "$work/other2.out" 2>&1; then
  fail "the non-member inserted"
fi
grep -q "No permission to insert / eject" "$mr_root/users/$other/boxes.txt" ||
  { cat "$mr_root/users/$other/boxes.txt" >&2 || true; fail "the non-member was not told why"; }
echo "the member inserts, the non-member is refused (600)"
echo "PASS"
