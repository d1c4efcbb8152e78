#!/usr/bin/env bash
# Benchmark: a whole-site firmware update. `lanrove-cli fw-update` brings 10 simulated cameras
# to a 64 MiB image at a small time scale. Prints the total time, the most transfers at once
# as the tool saw them and as the simulator saw them (at most two are allowed), and the tool's
# peak memory against three times the image (the image is held once, not once per camera).
# Needs root (the lab); touches no real network.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
scale=${LANROVE_BENCH_SCALE:-0.002}
cameras=10
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Ten cameras of one model, all a version behind the image.
{
  echo '{"defaults": {"model": "KT-5200", "proto": 2, "mask": "255.255.255.0", "firmware": "1.20",'
  echo '  "restartTime": 60000, "writeTime": 10000, "announceTime": 10000,'
  echo '  "versions": {"CAM MAIN Ver": "1.20(20100101)"}},'
  echo ' "cameras": ['
  for i in $(seq $cameras); do
    sep=,; [ "$i" = "$cameras" ] && sep=
    printf '  {"mac": "02:00:00:00:65:%02X", "ip": "192.168.0.%d"}%s\n' "$i" $((100 + i)) "$sep"
  done
  echo ']}'
} >"$out/fleet.json"
home=$out/home
mkdir -p "$home/KT-5200"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$home/KT-5200/RM2125.BIN"
ln -s "$PWD/$build/src/lanrove-cli" "$home/lanrove-cli_fwtool"

cat >"$out/run.sh" <<RUN
set -u
start=\$(date +%s.%N)
/usr/bin/time -v "$home/lanrove-cli_fwtool" fw-update --yes --json --home "$home" \
  >"$out/update.json" 2>"$out/update.err"
echo \$? >"$out/rc"
end=\$(date +%s.%N)
echo "\$start \$end" >"$out/times"
curl -s -u kelvo:730162 http://192.168.0.101/camsim/firmware >"$out/sim.txt"
RUN
lab/lab.sh --fleet "$out/fleet.json" --scale "$scale" \
  --camsim "$build/tools/camsim/lanrove-camsim" -- bash "$out/run.sh"

python3 - "$out" "$cameras" <<'REPORT'
import json, re, sys
out, cameras = sys.argv[1], int(sys.argv[2])
size = 64 * 1024 * 1024
rc = int(open(out + "/rc").read())
start, end = map(float, open(out + "/times").read().split())
err = open(out + "/update.err").read()
text = open(out + "/update.json").read()
result = json.loads(text[: text.rfind("}") + 1])
done = sum(1 for c in result["cameras"] if c["result"] == "completed")
m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
peak_kib = int(m.group(1)) if m else 0
sim = dict(l.split("=", 1) for l in open(out + "/sim.txt").read().splitlines() if "=" in l)
print("cameras updated: %d of %d (exit %d)" % (done, cameras, rc))
print("total time: %.1f s" % (end - start))
print("most transfers at once: %d seen by the tool, %s seen by the simulator (limit 2)"
      % (result.get("peakTransfers", -1), sim.get("peak_uploads", "?")))
print("peak memory of the tool: %.1f MiB (three times the image: %.1f MiB)"
      % (peak_kib / 1024.0, 3 * size / 1048576.0))
ok = (rc == 0 and done == cameras and result.get("peakTransfers") == 2
      and int(sim.get("peak_uploads", "0")) <= 2 and peak_kib * 1024 < 3 * size)
print("PASS" if ok else "FAIL")
sys.exit(0 if ok else 1)
REPORT
