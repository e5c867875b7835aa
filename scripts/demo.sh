#!/usr/bin/env bash
# The demo: a fresh machine root in ./demo-root, a shared catalogue with three images added
# through the client library and published into the global store, shown with the oxtenv tool.
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/system" && pwd)
root=$(pwd)/demo-root
rm -rf "$root"
mkdir -p "$root/home" "$root/pool/images"
export OMBRIX_ROOT=$root
settings='HKLM\SOFTWARE\Norvane\Ombrix TS v5\GlobalSettings'

echo "== machine root $root"
"$bin/oxtreg" set "$settings" OmxHomePath REG_SZ "$root/home/"
"$bin/oxtreg" set "$settings" OXTLogLevel REG_SZ 0
# The pool's shared files (catalogue, profiles, tree, server list, administration file) lie in
# one folder; the network access service publishes them.
for key in OmxConfigPathNet OMXServerPathNet OmxTreePathNet OmxAdmPathNet OMXSecurityPathNet; do
  "$bin/oxtreg" set "$settings" "$key" REG_SZ "$root/pool/"
done
"$bin/oxtreg" list "$settings"

echo
echo "== global settings published into the global store"
"$bin/oxtenv" set OmxHomePath "$root/home/"
"$bin/oxtenv" set OXTLogLevel 0
"$bin/oxtenv" set OmxConfigFileNet "$root/pool/OMXimg.dat"

echo
echo "== adding images to the shared catalogue"
"$bin/omxdemo" "$root/pool/images"

echo
echo "== the shared catalogue file"
tr -d '\r' < "$root/pool/OMXimg.dat"

echo
echo "== the global store (oxtenv list)"
"$bin/oxtenv" list

echo
echo "== one entry (oxtenv get OMXImage_5002)"
"$bin/oxtenv" get OMXImage_5002
echo
echo "== the shared log ($root/home/OXTLog.log)"
cat "$root/home/OXTLog.log" 2>/dev/null || echo "(empty)"

echo
echo "== the driver stand-in, the management service and the network access service"
# The units show the discs' files through FUSE where this machine allows it.
"$bin/oxtmpdrv" --units 4 --port 2 > "$root/oxtmpdrv.out" 2> "$root/oxtmpdrv.err" &
driver=$!
# The service looks for the driver's port once, at start: wait until the driver has registered it.
for _ in $(seq 50); do
  "$bin/oxtreg" get 'HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port 2' Driver >/dev/null 2>&1 && break
  sleep 0.1
done
"$bin/Oxtserv" -d > "$root/oxtserv.out" &
service=$!
net=
# At the end the sessions log off (their helper programs end with them), then the services stop.
trap '"$bin/oxtsession" logoff 2 >/dev/null 2>&1; "$bin/oxtsession" logoff 3 >/dev/null 2>&1;
      [ -n "$net" ] && kill -INT $net 2>/dev/null && wait $net 2>/dev/null;
      kill -INT $service 2>/dev/null; wait $service 2>/dev/null; kill $driver 2>/dev/null;
      wait $driver 2>/dev/null' EXIT
for _ in $(seq 50); do "$bin/oxtpipe" 7 >/dev/null 2>&1 && break; sleep 0.1; done
"$bin/OXTNet" -d > "$root/oxtnet.out" 2>&1 &
net=$!
# Running once it has published the pool's files: the profiles give everybody insert and eject.
for _ in $(seq 100); do "$bin/oxtenv" get OXTSecurity >/dev/null 2>&1 && break; sleep 0.1; done
echo "published by the network access service: OMXImageCount = $("$bin/oxtenv" get OMXImageCount)"
cat "$root/oxtmpdrv.out"
"$bin/oxtreg" list 'HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port 2'

echo
echo "== two sessions log on (oxtsession, then the service's request 17)"
"$bin/oxtsession" logon 2 alice
"$bin/oxtsession" logon 3 bob
"$bin/oxtpipe" 17 --session 2 --text alice >/dev/null
"$bin/oxtpipe" 17 --session 3 --text bob >/dev/null
"$bin/oxtsession" list
echo "logons (oxtpipe 19):"
"$bin/oxtpipe" 19 | grep entries
echo "OMXLogons = $("$bin/oxtenv" get OMXLogons)"

echo
echo "== the units"
for key in OMXUnits OMXAdapter OMXDeviceMap OXTEmptyDevice; do
  echo "$key = $("$bin/oxtenv" get "$key")"
done
for unit in 0 1 2 3; do
  echo "unit $unit: $("$bin/oxtpipe" 4 --data $unit | tr '\n' ' ')"
done

echo
echo "== the road of one insert: oxtcmd in alice's session, then in bob's"
# The installation's system folder holds the programs, so the client library finds the session
# helper program there and starts it once per session.
ln -sfn "$bin" "$root/home/system"
in_session() {  # in_session SID USER PROGRAM ARGS...: run as that session's user would
  local sid=$1 user=$2
  shift 2
  mkdir -p "$root/users/$user"
  OMBRIX_SESSION=$sid HOME="$root/users/$user" OMBRIX_UI_RECORD="$root/boxes-$user.txt" \
    QT_QPA_PLATFORM=offscreen "$@"
}
boxes() {  # the message boxes a user saw, then forget them
  [ -f "$root/boxes-$1.txt" ] && sed 's/^/   box: /' "$root/boxes-$1.txt" && rm -f "$root/boxes-$1.txt"
  true
}
units() {
  for unit in 1 2 3; do
    echo "   unit $unit: $("$bin/oxtpipe" 4 --data $unit | grep -E 'text|data' | tr '\n' ' ')"
  done
}
image=$(find "$root/pool/images" -name '*.om4' | sort | head -n 1)
echo "alice: oxtcmd /V /I $image E:"
in_session 2 alice "$bin/oxtcmd" /V /I "$image" E: || echo "   (oxtcmd failed)"
boxes alice
echo "   alice's E: -> $(readlink -f "$root/Sessions/2/DosDevices/E:" | sed "s#^$root/##")"
echo "   alice's folder of drives (~/OmbrixDrives):"
ls -l "$root/users/alice/OmbrixDrives" | sed -n 's/^.* \([A-Z]\) -> /     \1 -> /p'
echo "   her session's record: OMX_Drive_E = $("$bin/oxtenv" --session 2 get OMX_Drive_E)"
echo "bob: oxtcmd /V /I $image F: (the same image: bob shares alice's unit)"
in_session 3 bob "$bin/oxtcmd" /V /I "$image" F: || echo "   (oxtcmd failed)"
boxes bob
echo "   bob's F: -> $(readlink -f "$root/Sessions/3/DosDevices/F:" | sed "s#^$root/##")"
units
echo "alice: oxtcmd /V /E E:    bob: oxtcmd /V /E <image>"
in_session 2 alice "$bin/oxtcmd" /V /E E: || echo "   (oxtcmd failed)"
boxes alice
in_session 3 bob "$bin/oxtcmd" /V /E "$image" || echo "   (oxtcmd failed)"
boxes bob
echo "   alice's E: -> $(readlink -f "$root/Sessions/2/DosDevices/E:" | sed "s#^$root/##")   bob's F: -> $(readlink -f "$root/Sessions/3/DosDevices/F:" | sed "s#^$root/##")"
units

echo
echo "== a disc's files: made with xorriso and omxcvt, listed with omxcontents, read in its unit"
if command -v xorriso >/dev/null 2>&1; then
  mkdir -p "$root/disc/docs"
  echo "Welcome to the demo disc." > "$root/disc/README.txt"
  seq 1 5 | sed 's/^/line /' > "$root/disc/docs/lines.txt"
  xorriso -as mkisofs -J -V DEMO_DISC -o "$root/pool/demo.iso" "$root/disc" >/dev/null 2>&1
  disc="$root/pool/images/demo.om4"
  "$bin/omxcvt" --quiet --storage deflate --output "$disc" "$root/pool/demo.iso"
  echo "omxcontents list $disc:"
  "$bin/omxcontents" list "$disc" | sed 's/^/   /'
  echo "bob: oxtcmd /Q /I $disc F:, then he reads the disc through his drive ~/OmbrixDrives/F"
  in_session 3 bob "$bin/oxtcmd" /Q /I "$disc" F: || echo "   (oxtcmd failed)"
  drive="$root/users/bob/OmbrixDrives/F"
  if mountpoint -q "$(readlink -f "$drive")" 2>/dev/null; then
    echo "   F: -> $(readlink -f "$drive" | sed "s#^$root/##")"
    echo "   ls -R ~/OmbrixDrives/F:"
    (cd "$drive/" && ls -R . | sed 's/^/     /')
    echo "   cat ~/OmbrixDrives/F/README.txt: $(cat "$drive/README.txt")"
  else
    echo "   this machine shows no disc files in the units:"
    sed 's/^/     /' "$root/oxtmpdrv.err"
  fi
  in_session 3 bob "$bin/oxtcmd" /Q /E F: || echo "   (oxtcmd failed)"
  echo "   after bob's eject, F: -> $(readlink -f "$drive" | sed "s#^$root/##")"
fi
