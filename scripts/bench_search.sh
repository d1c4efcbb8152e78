#!/usr/bin/env bash
# Benchmark: one full search of a simulated LAN with 1000 cameras (real time, no scaling).
# Reports how many cameras were listed, the time from the first request to the last listed
# row, and the peak memory of lanrove-cli. Needs root (the lab); touches no real network.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
fleet=${1:-lab/fleets/thousand.json}
scale=${LANROVE_BENCH_SCALE:-1}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
lab/lab.sh --fleet "$fleet" --pc-addr 172.16.0.1/16 --gateway off --scale "$scale" \
  --camsim "$build/tools/camsim/lanrove-camsim" -- \
  /usr/bin/time -v "$build/src/lanrove-cli" search --csv --quiet --stats --home "$out" \
  >"$out/list.csv" 2>"$out/err.txt" || true
grep -E 'search stats' "$out/err.txt"
# The first line holds the column headings; MACs never need quoting.
listed=$(tail -n +2 "$out/list.csv" | grep -c . || true)
unique=$(tail -n +2 "$out/list.csv" | cut -d, -f4 | sort -u | wc -l)
echo "listed rows: $listed, distinct MACs: $unique"
grep -E 'Maximum resident set size|Elapsed \(wall clock\)' "$out/err.txt"
