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
