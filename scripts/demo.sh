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
echo "== the driver stand-in and the management service"
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
trap 'kill -INT $service 2>/dev/null; wait $service 2>/dev/null; kill $driver 2>/dev/null; wait $driver 2>/dev/null' EXIT
for _ in $(seq 50); do "$bin/oxtpipe" 7 >/dev/null 2>&1 && break; sleep 0.1; done
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
image=$(find "$root/pool/images" -name '*.om4' | sort | head -n 1)
if [ -n "$image" ]; then
  echo "alice inserts $image:"
  "$bin/oxtpipe" 1 --session 2 --text "$image" | grep text
fi
for unit in 0 1 2 3; do
  echo "unit $unit: $("$bin/oxtpipe" 4 --data $unit | tr '\n' ' ')"
done

echo
echo "== a disc's files: made with xorriso and omxcvt, listed with omxcontents, read in its unit"
if command -v xorriso >/dev/null 2>&1; then
  mkdir -p "$root/disc/docs"
  echo "Welcome to the demo disc." > "$root/disc/README.txt"
  seq 1 5 | sed 's/^/line /' > "$root/disc/docs/lines.txt"
  xorriso -as mkisofs -J -V DEMO_DISC -o "$root/pool/demo.iso" "$root/disc" >/dev/null 2>&1
  "$bin/omxcvt" --quiet --storage deflate --output "$root/pool/images/demo.om4" "$root/pool/demo.iso"
  disc="$root/pool/images/demo.om4"
  "$bin/omxcontents" list "$disc"
  device=$("$bin/oxtpipe" 1 --session 3 --text "$disc" | sed -n 's/^text .*CdRom//p')
  folder="$root/Device/CdRom$device"
  if mountpoint -q "$folder" 2>/dev/null; then
    echo "bob inserted it into unit $device; ls -R $folder:"
    ls -R "$folder"
    echo "cat README.txt: $(cat "$folder/README.txt")"
  else
    echo "unit $device holds the disc; this machine shows no disc files:"
    cat "$root/oxtmpdrv.err"
  fi
fi
