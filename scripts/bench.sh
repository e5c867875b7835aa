#!/usr/bin/env bash
# Runs every benchmark; compare figures within one run (ratios), never across machines.
set -euo pipefail
build=${1:-build}
for bench in "$build"/bench-bin/*; do
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.5
done
echo "== the drives against other mounters"
"$(dirname "$0")/bench-mounters.sh" "$build"
