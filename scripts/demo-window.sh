#!/usr/bin/env bash
# Opens the CD management window of alice's demo session on your screen: the services of the
# demo's machine root start again (as root), alice logs on in session 2 and OXTmng runs as alice
# on your display. Closing the window stops everything again.
#   scripts/demo-window.sh [BUILD]      (after make demo; as root, with DISPLAY set)
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$build/system" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "The services run as root and the window as alice: run this as root." >&2
  exit 1
fi
root=$(pwd)/demo-root
[ -d "$root" ] || root=/var/tmp/ombrix-demo-root
if [ ! -d "$root/users/alice" ]; then
  echo "No demo machine root here: run make demo first." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "No screen: set DISPLAY (and let alice use it, e.g. xhost +si:localuser:alice)." >&2
  exit 1
fi
# shellcheck source=scripts/machine-root.sh
source "$here/machine-root.sh"
mr_root=$root
mr_bin=$bin
export OMBRIX_ROOT=$root
trap mr_stop_services EXIT
mr_start_services
mr_logon 2 alice >/dev/null
echo "== OXTmng as alice in session 2 on $DISPLAY (close the window to end)"
in_session 2 alice env QT_QPA_PLATFORM=xcb DISPLAY="$DISPLAY" "$bin/OXTmng" "$@" || true
