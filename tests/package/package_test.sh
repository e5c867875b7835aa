#!/usr/bin/env bash
# Builds the Debian package, checks its control files and contents (and its units and lintian's
# verdict where those tools exist), then runs the installed files: the three services as their
# units start them, against a temporary machine root, and an ordinary account that logs on
# through the PAM hook, inserts an image with oxtcmd and reads the disc.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
# unit_line KEY UNIT: the unit's command line for KEY, run from the extracted tree.
unit_line() {
  [ -f "$tree/lib/systemd/system/$2.service" ] || return 0
  sed -n "s/^$1=//p" "$tree/lib/systemd/system/$2.service" | sed "s#/opt/ombrix#$tree/opt/ombrix#"
}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }

work=$(mktemp -d /var/tmp/ombrix-package.XXXXXX)
tree=$work/tree
chmod 755 "$work"
pids=()
units=()
# Stops the units in reverse order as systemd does: the unit's ExecStop, else SIGTERM.
cleanup() {
  local i stop
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    stop=$(unit_line ExecStop "${units[i]}")
    if [ -n "$stop" ]; then $stop >/dev/null 2>&1 || true; else kill -TERM "${pids[i]}" 2>/dev/null || true; fi
    timeout 30 tail --pid="${pids[i]}" -f /dev/null || kill -KILL "${pids[i]}" 2>/dev/null || true
  done
  grep -o " $work/[^ ]*" /proc/self/mounts | xargs -r -n1 umount -l 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== the package"
(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack"
deb=$(ls "$work"/pkg/ombrix-ts_*.deb)
info=$(dpkg-deb -I "$deb")
for field in "Package: ombrix-ts" "Section: admin" "Depends: fuse3"; do
  grep -q "$field" <<<"$info" || fail "control lacks '$field'"
done
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" || fail "no executable $script"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./opt/ombrix/system/Oxtserv ./opt/ombrix/system/OXTNet ./opt/ombrix/system/oxtmpdrv \
  ./opt/ombrix/system/oxtcmd ./opt/ombrix/system/OxtHelp ./opt/ombrix/system/liboxtcomm.so \
  ./opt/ombrix/system/oxtsession ./opt/ombrix/system/config/nrvoxt.inf \
  ./lib/systemd/system/oxtmpdrv.service ./lib/systemd/system/oxtserv.service \
  ./lib/systemd/system/oxtnet.service ./usr/lib/tmpfiles.d/ombrix-ts.conf \
  ./usr/share/pam-configs/ombrix-ts ./usr/share/doc/ombrix-ts/ADMIN.md \
  ./usr/share/doc/ombrix-ts/copyright ./usr/share/doc/ombrix-ts/changelog.gz; do
  grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done
if grep -q "test\|bench\|fuzz" <<<"$contents"; then fail "test programs in the package"; fi

dpkg-deb -x "$deb" "$tree"
grep -q "^Default: no" "$tree/usr/share/pam-configs/ombrix-ts" || fail "PAM profile on by default"
grep -q "pam_exec.so quiet /opt/ombrix/system/oxtsession pam" "$tree/usr/share/pam-configs/ombrix-ts" \
  || fail "PAM profile does not run oxtsession pam"
if command -v systemd-analyze >/dev/null 2>&1; then
  echo "== systemd-analyze verify"
  # The units as installed, their programs found in the extracted tree.
  mkdir -p "$work/units"
  for unit in oxtmpdrv oxtserv oxtnet; do
    sed "s#/opt/ombrix#$tree/opt/ombrix#g" "$tree/lib/systemd/system/$unit.service" \
      > "$work/units/$unit.service"
  done
  out=$(cd "$work/units" && systemd-analyze verify oxtmpdrv.service oxtserv.service \
    oxtnet.service 2>&1 || true)
  if grep -v "^$" <<<"$out" | grep -q .; then
    echo "$out"
    fail "systemd-analyze verify"
  fi
fi
if command -v lintian >/dev/null 2>&1; then
  echo "== lintian"
  out=$(lintian "$deb" 2>&1 | grep -v "root privileges" || true)
  [ -n "$out" ] && echo "$out"
  if grep -q "^E:" <<<"$out"; then fail "lintian errors"; fi
fi

echo "== the installed services against a temporary machine root"
system=$tree/opt/ombrix/system
export OMBRIX_ROOT=$work/root
mkdir -p "$OMBRIX_ROOT" "$work/pool"
settings='HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings'
"$system/oxtreg" set "$settings" OmxHomePath REG_SZ "$tree/opt/ombrix/"
for key in OmxConfigPathNet OMXServerPathNet OmxTreePathNet OmxAdmPathNet OMXSecurityPathNet; do
  "$system/oxtreg" set "$settings" "$key" REG_SZ "$work/pool/"
done
# As the maintainer script registers them.
# Under systemd a service's standard error is the journal: its events go there too.
JOURNAL_STREAM=8:1 "$system/Oxtserv" -i >/dev/null 2>"$work/install.err" || fail "Oxtserv -i"
grep -q "^<[346]>" "$work/install.err" || fail "the registration's event is not in the journal"
"$system/OXTNet" -i >/dev/null || fail "OXTNet -i"
"$system/oxtsvc" list | grep -qi "OXTServ" || fail "OXTServ not registered"
# Each as its unit starts it: the unit's command line and environment, systemd's INVOCATION_ID.
start_unit() {
  local command
  command=$(unit_line ExecStart "$1")
  units+=("$1")
  # shellcheck disable=SC2086
  env INVOCATION_ID="test$RANDOM" JOURNAL_STREAM=8:1 OMBRIX_SESSION=0 $command \
    > "$work/$1.out" 2>&1 &
  pids+=($!)
}
start_unit oxtmpdrv
for _ in $(seq 50); do "$system/oxtreg" get 'HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port 2' Driver >/dev/null 2>&1 && break; sleep 0.1; done
start_unit oxtserv
for _ in $(seq 50); do "$system/oxtpipe" 7 >/dev/null 2>&1 && break; sleep 0.1; done
"$system/oxtsvc" query OXTServ | grep -q "RUNNING\|^4\| 4 " || { "$system/oxtsvc" query OXTServ; fail "OXTServ not running for the controller"; }
start_unit oxtnet
for _ in $(seq 100); do "$system/oxtenv" get OXTSecurity >/dev/null 2>&1 && break; sleep 0.1; done
"$system/oxtenv" get OXTSecurity >/dev/null || fail "the network access service published nothing"

echo "== an image, catalogued by root's first insert"
mkdir -p "$work/disc"
echo "read through the installed drive" > "$work/disc/hello.txt"
xorriso -as mkisofs -J -V PKG_DISC -o "$work/disc.iso" "$work/disc" >/dev/null 2>&1 || fail "xorriso"
"$system/omxcvt" --quiet --output "$work/pool/disc.om4" "$work/disc.iso" || fail "omxcvt"
chmod -R a+rX "$work/pool"
env PAM_TYPE=open_session PAM_USER=root OMBRIX_SESSION=1 "$system/oxtsession" pam || fail "root's log-on"
OMBRIX_SESSION=1 "$system/oxtcmd" /Q /I "$work/pool/disc.om4" E: || fail "root's insert"
OMBRIX_SESSION=1 "$system/oxtcmd" /Q /E E: || fail "root's eject"
grep -q "disc.om4" "$work/pool/OMXimg.dat" || fail "the image was not catalogued"

echo "== an ordinary account logs on through the PAM hook, inserts and reads"
user=ombrix-pkgtest
id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --home-dir /nonexistent \
  --shell /usr/sbin/nologin --user-group "$user"
home=$work/home
mkdir -p "$home"
chown "$user:" "$home"
# pam_exec runs the hook as root with the PAM items in the environment.
env PAM_TYPE=open_session PAM_USER=$user PAM_SERVICE=login OMBRIX_SESSION=5 "$system/oxtsession" pam \
  || fail "the PAM hook did not log the session on"
"$system/oxtsession" list | grep -q "$user" || fail "session 5 is not $user's"
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups env OMBRIX_SESSION=5 HOME="$home" "$@"; }
as_user "$system/oxtcmd" /Q /I "$work/pool/disc.om4" F: || fail "the user's insert"
text=$(as_user cat "$home/OmbrixDrives/F/hello.txt") || fail "the user cannot read the disc"
[ "$text" = "read through the installed drive" ] || fail "read '$text'"
as_user "$system/oxtcmd" /Q /E F: || fail "the user's eject"
env PAM_TYPE=close_session PAM_USER=$user OMBRIX_SESSION=5 "$system/oxtsession" pam \
  || fail "the PAM hook did not log the session off"
if "$system/oxtsession" list | grep -q "$user"; then fail "session 5 still logged on"; fi
"$system/oxtsession" logoff 1 >/dev/null 2>&1 || true
echo "PASS"
