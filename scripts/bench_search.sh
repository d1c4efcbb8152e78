#!/usr/bin/env bash
# Benchmark: one full search of a simulated LAN with 1000 cameras (real time, no scaling).
# Reports how many cameras were listed, the time from the first request to the last listed
# row, and the peak memory of lanrove-cli. Needs root (the lab); touches no real network.
#
# scripts/bench_search.sh --adapters: the wall time of a whole `lanrove-cli search` (real time)
# with one, two and three live adapters, each on a segment of its own with a few cameras, and
# one adapter without carrier beside them. The adapters are searched at once, so the time
# should stay near one pass (about 31 s; the goal is 33 s) whatever their number.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}

if [ "${1:-}" = "--adapters" ]; then
  scale=${LANROVE_BENCH_SCALE:-1}
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  # fleet FILE SUBNET FIRST_MAC_BYTE: two version-2 cameras and one version-1 camera.
  fleet() {
    cat >"$1" <<FLEET
{"defaults": {"model": "KT-5200", "firmware": "1.20", "mask": "255.255.255.0"},
 "cameras": [
  {"mac": "00:1B:7C:00:$3:01", "ip": "$2.21", "proto": 2, "title": "two"},
  {"mac": "00:1B:7C:00:$3:02", "ip": "$2.22", "proto": 2, "title": "two"},
  {"mac": "00:1B:7C:00:$3:03", "ip": "$2.23", "proto": 1, "title": "one"}]}
FLEET
  }
  fleet "$out/a.json" 192.168.0 0A
  fleet "$out/b.json" 192.168.1 0B
  fleet "$out/c.json" 192.168.2 0C
  common=(--scale "$scale" --gateway off --no-carrier 10.99.0.10/24
          --camsim "$build/tools/camsim/lanrove-camsim")
  run() {  # run LIVE_ADAPTERS LAB_ARGS...
    local n="$1"; shift
    lab/lab.sh "${common[@]}" "$@" -- bash -c '
      start=$(date +%s%N)
      "$0" search --quiet --csv --home "$1" >"$1/list.csv" 2>"$1/err.txt"
      rc=$?
      echo "$rc $(( ($(date +%s%N) - start) / 1000000 ))"' \
      "$build/src/lanrove-cli" "$out" >"$out/time.txt" || true
    local rc ms
    read -r rc ms <"$out/time.txt" || { echo "$n live adapter(s): lab failed"; return; }
    local listed
    listed=$(tail -n +2 "$out/list.csv" | grep -c . || true)
    printf '%d live adapter(s): %d.%03d s, %d cameras listed, exit %d\n' \
      "$n" $((ms / 1000)) $((ms % 1000)) "$listed" "$rc"
  }
  run 1 --fleet "$out/a.json" --pc-addr 192.168.0.10/24
  run 2 --fleet "$out/a.json" --pc-addr 192.168.0.10/24 \
    --adapter3 192.168.2.10/24 --fleet3 "$out/c.json"
  # --split: eth0 alone on its segment, eth1 with the first fleet on another.
  run 3 --fleet "$out/b.json" --adapters 2 --split --pc-addr 192.168.0.10/24 \
    --pc-addr2 192.168.1.10/24 --adapter3 192.168.2.10/24 --fleet3 "$out/c.json"
  exit 0
fi
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
