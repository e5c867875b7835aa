#!/usr/bin/env bash
# The small tools on a real X server (Xvfb), the services running as root and the programs as
# ordinary accounts, each driven by the keyboard:
#   settings  OXTSet: turn an option off and OK; the session's programs hear which settings
#             changed and the user's store holds the new value
#   drive     OXTDrive: tick G: and Set drives; the session gets G: (its drive link and the
#             user's drive folder)
#   mode      oxtmode: enter central mode with the mode button; SIGTERM, and then the session's
#             log-off, end the program and leave central mode (the administration file says so)
#   tray      OXTTray beside a tray host (trayer): the user's hot key opens the menu, the keyboard
#             inserts the catalogue's image into E:; "OXTTray /Stop" ends it; "/check" starts
#             nothing for a user who does not want the icon
#   tools_xvfb_test.sh BUILD_DIR settings|drive|mode|tray
set -euo pipefail
build=$(cd "$1" && pwd)
what=$2
repo=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }
# shellcheck source=scripts/machine-root.sh
source "$repo/scripts/machine-root.sh"
# shellcheck source=tests/support/xserver.sh
source "$repo/tests/support/xserver.sh"

bin=$build/system
start_workspace tools
admin=ombrix-tooladmin
user=ombrix-tooluser
admins=ombrix-tooladmins

for account in "$admin" "$user"; do mr_account "$account" >/dev/null; done
administrators_group "$admins" "$admin"

mr_units=2
mr_prepare "$work/root" "$bin" >/dev/null
"$bin/oxtreg" set 'HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings' OMXAdminGroup REG_SZ "$admins"
"$bin/oxtenv" set OmxStdDriveLetters EF
mr_start_services
# An administrator in session 2, an ordinary user in session 3, each with the session helper a
# log-on starts.
mr_logon 2 "$admin" >/dev/null
mr_logon 3 "$user" >/dev/null
in_session 2 "$admin" setsid "$bin/OxtHelp" </dev/null >/dev/null 2>&1 &
in_session 3 "$user" setsid "$bin/OxtHelp" </dev/null >/dev/null 2>&1 &
start_xserver 61

# run_shown SID USER OUT NAME PROGRAM ARGS...: the program on the X server, in the background;
# shown_pid is the program's own process (NAME), not the shell that started it.
run_shown() {
  local sid=$1 account=$2 out=$3 name=$4
  shift 4
  in_session "$sid" "$account" env QT_QPA_PLATFORM=xcb DISPLAY="$display" "$@" > "$out" 2>&1 &
  pids+=($!)
  found() { shown_pid=$(pgrep -n -u "$account" -x "$name"); }
  until_true 10 found || fail "$name did not start"
  pids+=("$shown_pid")
}
ended() { ! kill -0 "$1" 2>/dev/null; }

case $what in
settings)
  # A program of the user's session listening, as the management program does.
  in_session 3 "$user" "$bin/oxtbus" listen --count 1 --timeout 60 > "$work/bus.out" 2>&1 &
  pids+=($!)
  until_true 10 grep -q listening "$work/bus.out" || fail "oxtbus does not listen"
  run_shown 3 "$user" "$work/oxtset.out" OXTSet "$bin/OXTSet" 1
  window=$(focused_window "Ombrix TS v5.0 - Settings") ||
    { cat "$work/oxtset.out" >&2; fail "no settings window"; }
  echo "window $window"
  sleep 0.5  # the window takes keys once it has drawn itself
  # The CD Management page is open: Alt+A turns the animation off, Return is OK.
  xdotool key alt+a
  sleep 0.3
  xdotool key Return
  until_true 10 ended "$shown_pid" || fail "OK did not end the program"
  grep -q "settings saved" "$work/oxtset.out" || { cat "$work/oxtset.out" >&2; fail "OXTSet failed"; }
  until_true 10 grep -q WM_OXT_SETTINGS_CHANGED "$work/bus.out" ||
    { cat "$work/bus.out" >&2; fail "no settings message"; }
  grep -qx "WM_OXT_SETTINGS_CHANGED 0 1" "$work/bus.out" ||
    { cat "$work/bus.out" >&2; fail "the message does not say that the view options changed"; }
  stored=$("$bin/oxtenv" --session 3 get OmxMngSettings)
  [ "$stored" = "1000000" ] || fail "the view options stored are '$stored'"
  echo "the session heard 'view options changed' and the store holds $stored"
  ;;
drive)
  until_true 15 test -e "$mr_root/Sessions/2/DosDevices/F:" ||
    fail "the administrator's session has no drive F:"
  run_shown 2 "$admin" "$work/oxtdrive.out" OXTDrive "$bin/OXTDrive"
  window=$(focused_window "Ombrix TS Drive Editor") ||
    { cat "$work/oxtdrive.out" >&2; fail "no drive editor window"; }
  echo "window $window"
  sleep 0.5  # the window takes keys once it has drawn itself
  # The list has the focus: the seventh row is G:, Space ticks it, Alt+S sets the drives.
  xdotool key Home Down Down Down Down Down Down space
  sleep 0.3
  xdotool key alt+s
  until_true 15 test -e "$mr_root/Sessions/2/DosDevices/G:" ||
    { cat "$work/oxtdrive.out" >&2; fail "the session did not get G:"; }
  until_true 15 test -e "$mr_root/users/$admin/OmbrixDrives/G" ||
    fail "the user's drive folder has no G"
  echo "the session has G: and the drive folder G"
  # The dialog stays open after Set; Escape closes it.
  sleep 0.5
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key Escape
  until_true 10 ended "$shown_pid" || fail "Escape did not close the drive editor"
  ;;
mode)
  # The administration file with the password "secret"; the pool's administrators may write it.
  digest=$(printf '%s' secret | md5sum | cut -d' ' -f1)
  printf '[AdminSetting]\r\nAdminPWD=%s\r\nAdminMode=0\r\n' "$digest" \
    > "$mr_root/pool/Oxtadm.dat"
  chgrp "$admins" "$mr_root/pool" "$mr_root/pool/Oxtadm.dat"
  chmod 775 "$mr_root/pool"
  chmod 664 "$mr_root/pool/Oxtadm.dat"
  central() { grep -qi "^AdminMode=1" "$mr_root/pool/Oxtadm.dat"; }
  normal() { grep -qi "^AdminMode=0" "$mr_root/pool/Oxtadm.dat"; }
  for end in SIGTERM logoff; do
    # The client library asks for the password through the session's recorder.
    echo "password:secret" > "$mr_root/users/$admin/answers.txt"
    chown "$admin:" "$mr_root/users/$admin/answers.txt"
    run_shown 2 "$admin" "$work/oxtmode.out" oxtmode env OMBRIX_UI_ANSWERS="$mr_root/users/$admin/answers.txt" \
      "$bin/oxtmode"
    window=$(focused_window "Ombrix - Network Mode") ||
      { cat "$work/oxtmode.out" >&2; fail "no network mode window"; }
    echo "window $window"
    sleep 0.5  # the window takes keys once it has drawn itself
    xdotool key alt+m
    until_true 10 central ||
      { cat "$work/oxtmode.out" "$mr_root/users/$admin/boxes.txt" "$mr_root/pool/Oxtadm.dat" >&2; fail "not in central mode"; }
    echo "central mode on"
    if [ "$end" = SIGTERM ]; then
      kill -TERM "$shown_pid"
    else
      "$bin/oxtsession" logoff 2 >/dev/null
    fi
    until_true 10 ended "$shown_pid" || fail "the program did not end on $end"
    normal || { cat "$work/oxtmode.out" "$mr_root/users/$admin/boxes.txt" >&2; "$bin/oxtenv" get OmxAdminMode >&2; "$bin/oxtenv" --session 2 get OmxAdminMode >&2; fail "central mode outlived the program ($end)"; }
    echo "$end ended the program and left central mode"
  done
  ;;
tray)
  command -v trayer >/dev/null || fail "trayer is needed"
  trayer --edge bottom --widthtype request --heighttype pixel --height 24 >/dev/null 2>&1 &
  pids+=($!)
  catalogue_disc "$work" TRAY
  # The user wants no icon: a log-on start ends at once.
  in_session 3 "$user" "$bin/oxtenv" --session 3 set OmxSettings 01011
  in_session 3 "$user" env QT_QPA_PLATFORM=xcb DISPLAY="$display" timeout 10 "$bin/OXTTray" /check ||
    fail "OXTTray /check did not end at once"
  echo "/check ends when the settings want no icon"
  # The icon, the catalogue as one overview, and the hot key Ctrl+Alt+O.
  in_session 3 "$user" "$bin/oxtenv" --session 3 set OmxSettings 01111
  in_session 3 "$user" "$bin/oxtenv" --session 3 set OmxTrayKeyModifier 6
  in_session 3 "$user" "$bin/oxtenv" --session 3 set OmxTrayKeyVK 79
  run_shown 3 "$user" "$work/oxttray.out" OXTTray "$bin/OXTTray" /check
  sleep 2  # the icon finds its place in the tray, the key is grabbed
  kill -0 "$shown_pid" || { cat "$work/oxttray.out" >&2; fail "the tray program ended"; }
  xdotool mousemove 400 300
  xdotool key ctrl+alt+o
  until_true 10 bash -c "xdotool search --onlyvisible --class OXTTray >/dev/null 2>&1" ||
    { cat "$work/oxttray.out" >&2; fail "the hot key opened no menu"; }
  sleep 0.5
  # CD Management, Settings, Explorer, Eject, Insert: the fifth item; then E:, then its image.
  xdotool key Down Down Down Down Down
  sleep 0.3
  xdotool key Right
  sleep 0.3
  xdotool key Right
  sleep 0.3
  xdotool key Return
  inserted() { [ "$(in_session 3 "$user" "$bin/oxtenv" --session 3 get OMX_Drive_E 2>/dev/null)" = "$work/disc.om4" ]; }
  until_true 15 inserted ||
    { cat "$work/oxttray.out" "$mr_root/users/$user/boxes.txt" >&2; fail "the image is not in E:"; }
  echo "the menu inserted the image into E:"
  in_session 3 "$user" "$bin/OXTTray" /Stop
  until_true 10 ended "$shown_pid" || fail "/Stop did not end the tray program"
  echo "/Stop ended the tray program"
  ;;
*) fail "what to test: settings, drive, mode or tray" ;;
esac
echo "PASS"
