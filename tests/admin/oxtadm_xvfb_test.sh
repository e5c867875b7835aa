#!/usr/bin/env bash
# The administration program on a real X server (Xvfb), the services running as root: an
# administrator account starts OXTAdm, which shows this server with the session of another
# account and the image it holds; F5 refreshes; the File menu ends it.
#   oxtadm_xvfb_test.sh BUILD_DIR
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
start_workspace adm
admin=ombrix-admadmin
user=ombrix-admuser
admins=ombrix-admadmins

for account in "$admin" "$user"; do mr_account "$account" >/dev/null; done
administrators_group "$admins" "$admin"

mr_units=2
mr_prepare "$work/root" "$bin" >/dev/null
"$bin/oxtreg" set 'HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings' OMXAdminGroup REG_SZ "$admins"
"$bin/oxtenv" set OmxStdDriveLetters EF
mr_start_services
mr_logon 2 "$admin" >/dev/null
mr_logon 3 "$user" >/dev/null
# The user's session helper, as a log-on starts it, and an image in the user's drive E:.
in_session 3 "$user" setsid "$bin/OxtHelp" </dev/null >/dev/null 2>&1 &
catalogue_disc "$work" ADM
in_session 3 "$user" "$bin/oxtcmd" /Q /I "$work/disc.om4" E: || fail "the user could not insert"

start_xserver 53
in_session 2 "$admin" env QT_QPA_PLATFORM=xcb DISPLAY="$display" "$bin/OXTAdm" --log-tree \
  > "$work/oxtadm.out" 2>&1 &
apid=$!
pids+=("$apid")
window=$(focused_window "Ombrix TS Administration") ||
  { cat "$work/oxtadm.out" >&2; fail "no window titled 'Ombrix TS Administration'"; }
echo "window $window"
# With --log-tree the program writes the tree it shows after each refresh.
shows() { grep -qF -- "$1" "$work/oxtadm.out"; }
until_true 15 shows "$user - SessionID: 3" ||
  { cat "$work/oxtadm.out" >&2; fail "the user's session is not shown"; }
until_true 15 shows "E: - $work/disc.om4" ||
  { cat "$work/oxtadm.out" >&2; fail "the drive's image is not shown"; }
echo "the tree shows the user's session and the image in E:"
refreshes() { grep -c "^refresh" "$work/oxtadm.out" || true; }
before=$(refreshes)
xdotool key F5
more() { [ "$(refreshes)" -gt "$before" ]; }
until_true 10 more || fail "F5 did not refresh"
echo "F5 refreshed"

ended() { ! kill -0 "$apid" 2>/dev/null; }
for attempt in 1 2 3; do
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key alt+f
  sleep 1
  xdotool key Up Return
  until_true 5 ended && break
  xdotool key Escape Escape
done
ended || fail "the program did not end"
wait "$apid" || fail "the program ended with $?"
pids=()
echo "PASS"
