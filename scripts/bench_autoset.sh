#!/usr/bin/env bash
# Benchmark: automatic setting of 50 factory-fresh cameras on a simulated LAN where 10 live
# hosts hold addresses inside the range (time scale 0.05 by default). Checks that every camera
# got its own free address (none of the hosts', none given twice) and that a new search lists
# them all OK there; reports the probe batches, the wall time and the peak memory of
# lanrove-cli. Needs root (the lab); touches no real network.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
scale=${LANROVE_BENCH_SCALE:-0.05}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
hosts='"192.168.0.20-192.168.0.24", "192.168.0.40", "192.168.0.45", "192.168.0.50",
       "192.168.0.55", "192.168.0.60"'
cat >"$out/fleet.json" <<FLEET
{
  "defaults": {"model": "KT-5200", "proto": 2, "factory": true, "mask": "255.255.255.0"},
  "generate": [{"count": 50, "macStart": "02:00:00:00:50:00", "ipStart": "192.168.0.2",
                "ipStep": 0}],
  "hosts": [$hosts]
}
FLEET
cat >"$out/run.sh" <<RUN
/usr/bin/time -v "$build/src/lanrove-cli" auto-set --from 192.168.0.20 --to 192.168.0.120 \
  --yes --json --home "$out/home" >"$out/auto.json" 2>"$out/auto.err"
echo \$? >"$out/auto.rc"
"$build/src/lanrove-cli" search --json --home "$out/home" >"$out/search.json" 2>/dev/null || true
RUN
lab/lab.sh --fleet "$out/fleet.json" --scale "$scale" \
  --camsim "$build/tools/camsim/lanrove-camsim" -- bash "$out/run.sh"

python3 - "$out" "$scale" <<'CHECK'
import json, sys
out = sys.argv[1]
taken = {"192.168.0.%d" % i for i in list(range(20, 25)) + [40, 45, 50, 55, 60]}
auto = json.load(open(out + "/auto.json"))
search = json.load(open(out + "/search.json"))
rc = open(out + "/auto.rc").read().strip()
cams = auto["cameras"]
ips = [c["ip"] for c in cams]
problems = []
if rc != "0": problems.append("auto-set exit code %s" % rc)
if len(cams) != 50: problems.append("%d NEW cameras instead of 50" % len(cams))
if not all(c["set"] for c in cams): problems.append("not every camera was set")
if len(set(ips)) != len(ips): problems.append("an address was given twice")
if taken & set(ips): problems.append("a live host's address was given: %s" % (taken & set(ips)))
listed = {c["mac"]: c for c in search["cameras"]}
for c in cams:
    l = listed.get(c["mac"])
    if l is None or l["ip"] != c["ip"] or l["status"] != "OK":
        problems.append("search does not list %s OK at %s" % (c["mac"], c["ip"]))
        break
print("cameras set: %d of %d, distinct addresses: %d, host addresses given: %d"
      % (sum(c["set"] for c in cams), len(cams), len(set(ips)), len(taken & set(ips))))
print("probe batches: %d, probes: %d, free found: %d, run time: %.2fs (scale %s)"
      % (auto["probe"]["batches"], auto["probe"]["probes"], auto["probe"]["free"],
         auto["seconds"], sys.argv[2]))
for p in problems: print("FAIL:", p)
sys.exit(1 if problems else 0)
CHECK
grep -E 'Maximum resident set size|Elapsed \(wall clock\)' "$out/auto.err"
