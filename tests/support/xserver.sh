# Helpers of the tests that drive programs on a real X server (Xvfb) with the keyboard.
# Sourced; the caller defines fail().

# until_true SECONDS COMMAND...: polls every 0.1 s.
until_true() {
  local tries=$(($1 * 10))
  shift
  for ((i = 0; i < tries; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

# start_xserver OFFSET: starts Xvfb on a display of its own (100 + (pid + OFFSET) % 100) and
# exports DISPLAY; xserver_pid holds its process.
start_xserver() {
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null || fail "Xvfb and xdotool are needed"
  display=:$((100 + ($$ + $1) % 100))
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -ac >/dev/null 2>&1 &
  xserver_pid=$!
  export DISPLAY=$display
  until_true 10 xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start"
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
