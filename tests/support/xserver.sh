# Helpers of the tests that drive programs on a real X server (Xvfb) with the keyboard.
# Sourced; the caller defines fail().

# start_workspace NAME: a fresh folder $work (/var/tmp/ombrix-NAME.XXXXXX) every account may
# enter. When the script ends, the programs in `pids`, the X server and the services stop, what
# is mounted below the folder goes, and so does the folder.
pids=()
xserver_pid=
start_workspace() {
  work=$(mktemp -d "/var/tmp/ombrix-$1.XXXXXX")
  chmod 755 "$work"
  trap end_workspace EXIT
}
end_workspace() {
  set +e  # everything is cleaned up, whatever is already gone
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "$xserver_pid" ] && kill "$xserver_pid" 2>/dev/null
  mr_stop_services
  grep -o " $work/[^ ]*" /proc/self/mounts | xargs -r -n1 umount -l 2>/dev/null
  rm -rf "$work"
}

# until_true SECONDS COMMAND...: polls every 0.1 s.
until_true() {
  local tries=$(($1 * 10))
  shift
  for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# start_xserver OFFSET: starts Xvfb on a display of its own (100 + (pid + OFFSET) % 100) and
# exports DISPLAY; xserver_pid holds its process.
# A display another server still holds (its lock file is there) is passed over, and the server
# must be this one: the keys of a test never go to another test's windows.
start_xserver() {
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null || fail "Xvfb and xdotool are needed"
  local n=$((100 + ($$ + $1) % 100)) tries
  for ((tries = 0; tries < 100; tries++)); do
    [ -e "/tmp/.X$n-lock" ] || break
    n=$((100 + (n - 99) % 100))
  done
  display=:$n
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -ac >/dev/null 2>&1 &
  xserver_pid=$!
  export DISPLAY=$display
  ours() { kill -0 "$xserver_pid" 2>/dev/null && xdotool getmouselocation >/dev/null 2>&1; }
  until_true 10 ours || fail "Xvfb did not start on $display"
}

# focused_window TITLE: the newest visible window of that title, focused (waits up to 10 s).
# Without a window manager a new window is not focused by itself.
focused_window() {
  local found
  until_true 10 bash -c "xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1" || return 1
  found=$(xdotool search --onlyvisible --name "^$1\$" | tail -1)
  xdotool windowfocus --sync "$found" 2>/dev/null || true
  echo "$found"
}

# administrators_group GROUP ACCOUNT: ACCOUNT in the system group GROUP (made when missing).
administrators_group() {
  getent group "$1" >/dev/null || groupadd --system "$1"
  usermod -aG "$1" "$2"
}

# catalogue_disc FOLDER LABEL: a small disc (readme.txt) converted into FOLDER/disc.om4, readable
# by every account, and added to the pool's catalogue by root (accounts may not change it);
# waits until the network service has published it as index 5001.
catalogue_disc() {
  mkdir -p "$1/src"
  echo "a file on the disc" > "$1/src/readme.txt"
  xorriso -as mkisofs -J -V "$2" -o "$1/disc.iso" "$1/src" >/dev/null 2>&1
  "$mr_bin/omxcvt" --quiet --storage plain --output "$1/disc.om4" "$1/disc.iso"
  chmod 644 "$1"/disc.*
  "$mr_bin/omxdemo" --add "$1/disc.om4" >/dev/null
  until_true 10 "$mr_bin/oxtenv" get OMXImage_5001 >/dev/null 2>&1 || fail "the image was not catalogued"
}
