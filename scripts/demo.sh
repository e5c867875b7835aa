#!/usr/bin/env bash
# The demo: a fresh machine root in ./demo-root, a shared catalogue with three images added
# through the client library and published into the global store, shown with the oxtenv tool.
set -euo pipefail
build=${1:-build}
bin=$(cd "$build/system" && pwd)
root=$(pwd)/demo-root
if [ "$(id -u)" -ne 0 ]; then
  echo "The demo runs its sessions as real accounts: run it as root." >&2
  exit 1
fi
# The users must reach the machine root, as they reach /var/lib/ombrix on a server.
if ! setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$(pwd)"; then
  root=/var/tmp/ombrix-demo-root
  echo "(other accounts cannot enter $(pwd); the machine root is $root)"
fi
# shellcheck source=scripts/machine-root.sh
source "$(dirname "$0")/machine-root.sh"
echo "== machine root $root"
mr_prepare "$root" "$bin"
settings=$mr_settings
"$bin/oxtreg" list "$settings"

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
trap mr_stop_services EXIT
mr_start_services
echo "published by the network access service: OMXImageCount = $("$bin/oxtenv" get OMXImageCount)"
cat "$root/oxtmpdrv.out"
"$bin/oxtreg" list 'HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port 2'

echo
echo "== two real accounts log on: alice in session 2, bob in session 3 (oxtsession, as PAM would)"
mr_logon 2 alice
mr_logon 3 bob
"$bin/oxtsession" list
echo "what root made for session 2 (its folders are alice's, the files saying whose it is root's):"
ls -ld "$root/Sessions/2" "$root/Sessions/2/user" "$root/Sessions/2"/*/ "$root/env/session/2" \
  "$root/sync/Session2" | awk '{print "   " $1, $3, $NF}' | sed "s#$root/##"

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
boxes() {  # the message boxes a user saw, then forget them
  local file="$root/users/$1/boxes.txt"
  [ -f "$file" ] && sed 's/^/   box: /' "$file" && rm -f "$file"
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
echo "== what a file manager asks: the type of the image and its menu in bob's session"
echo "bob: oxtextse type $image"
in_session 3 bob "$bin/oxtextse" type "$image" | sed 's/^/   /' || echo "   (no image of this system)"
echo "bob: oxtextse menu $image   (depth, command, flags: s sub-menu, c checked; text)"
in_session 3 bob "$bin/oxtextse" menu "$image" | sed 's/^/   /' || echo "   (no menu)"
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
  echo "the administrator catalogues it (users insert catalogued images; the catalogue is root's):"
  "$bin/omxdemo" --add "$disc" | sed 's/^/   /'
  echo "omxcontents list $disc:"
  "$bin/omxcontents" list "$disc" | sed 's/^/   /'
  echo "bob: oxtcmd /Q /I $disc F:, then he reads the disc through his drive ~/OmbrixDrives/F"
  in_session 3 bob "$bin/oxtcmd" /Q /I "$disc" F: || echo "   (oxtcmd failed)"
  drive="$root/users/bob/OmbrixDrives/F"
  if mountpoint -q "$(readlink -f "$drive")" 2>/dev/null; then
    unit=$(readlink -f "$drive")
    echo "   F: -> ${unit#$root/}"
    echo "   bob: ls -R ~/OmbrixDrives/F:"
    in_session 3 bob sh -c 'cd "$HOME/OmbrixDrives/F/" && ls -R .' | sed 's/^/     /'
    echo "   bob: cat ~/OmbrixDrives/F/README.txt: $(in_session 3 bob cat "$drive/README.txt")"
    echo "   alice, whose session does not hold the unit: cat ${unit#$root/}/README.txt"
    in_session 2 alice cat "$unit/README.txt" 2>&1 | sed 's/^/     /' || true
  else
    echo "   this machine shows no disc files in the units:"
    sed 's/^/     /' "$root/oxtmpdrv.err"
  fi
  echo "alice: oxtcmd /Q /I $disc E:, then she reads it through her drive; bob cannot read her unit"
  in_session 3 bob "$bin/oxtcmd" /Q /E F: || echo "   (oxtcmd failed)"
  in_session 2 alice "$bin/oxtcmd" /Q /I "$disc" E: || echo "   (oxtcmd failed)"
  unit=$(readlink -f "$root/users/alice/OmbrixDrives/E")
  if mountpoint -q "$unit" 2>/dev/null; then
    echo "   alice: cat ~/OmbrixDrives/E/docs/lines.txt: $(in_session 2 alice cat "$root/users/alice/OmbrixDrives/E/docs/lines.txt" | tr '\n' ' ')"
    echo "   bob: cat ${unit#$root/}/docs/lines.txt"
    in_session 3 bob cat "$unit/docs/lines.txt" 2>&1 | sed 's/^/     /' || true
  fi
  in_session 2 alice "$bin/oxtcmd" /Q /E E: || echo "   (oxtcmd failed)"
  echo "   after the ejects, E: -> $(readlink -f "$root/users/alice/OmbrixDrives/E" | sed "s#^$root/##")"
fi

echo
echo "== who owns what in the machine root"
(cd "$root" && find . -maxdepth 3 \( -path ./users -o -path ./pool -o -path ./disc -o -name 'boxes*' \) -prune -o \
  \( -type d -o -type s -o -name '*.lock' -o -name '*.mdb' -o -name '*.reg' -o -name user -o -name state \) \
  -printf '   %M %-6u %-6g %p\n' 2>/dev/null | sort -k4)

echo
echo "== the CD management window"
echo "   To open alice's OXTmng on your screen against this machine root, as root with DISPLAY set:"
echo "     scripts/demo-window.sh $build"
echo "   (it starts the services again, logs alice on in session 2 and runs OXTmng as alice;"
echo "   alice needs the right to use your display, e.g. xhost +si:localuser:alice)"
