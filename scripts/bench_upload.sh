#!/usr/bin/env bash
# Benchmark: one 64 MiB firmware upload to a simulated camera on a lab link, by
# lanrove-upload-driver (the program's upload request) and by curl posting the same multipart
# body to the same simulator, three runs each. Prints the throughput of each run, the ratio of
# the medians (ours / curl) and the peak memory of both clients and of the simulator. Checks
# that the simulator holds the image unchanged after each upload. Needs root (the lab); touches
# no real network.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/default}
runs=${LANROVE_BENCH_RUNS:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cat >"$out/fleet.json" <<FLEET
{"defaults": {"model": "KT-5200", "proto": 2, "writeTime": 0, "announceTime": 0},
 "cameras": [{"mac": "02:00:00:00:64:01", "ip": "192.168.0.64"}]}
FLEET
head -c $((64 * 1024 * 1024)) /dev/urandom >"$out/RM20100.BIN"
sha256sum "$out/RM20100.BIN" | cut -d' ' -f1 >"$out/sum"
cat >"$out/run.sh" <<RUN
set -u
want=\$(cat "$out/sum")
check() {
  got=\$(curl -s -u kelvo:730162 http://192.168.0.64/camsim/firmware | sed -n 's/^sha256=//p')
  [ "\$got" = "\$want" ] || echo "FAIL: the simulator holds another image after \$1" >&2
}
boundary=7da0307090501
{
  printf -- '-----------------------------%s\r\n' \$boundary
  printf 'Content-Disposition: form-data; name="firmware_file"; filename="%s"\r\n' "$out/RM20100.BIN"
  printf 'Content-Type: application/octet-stream\r\n\r\n'
} >"$out/head"
printf '\r\n-----------------------------%s--\r\n' \$boundary >"$out/tail"
for i in \$(seq $runs); do
  /usr/bin/time -v "$build/tests/lanrove-upload-driver" --ip 192.168.0.64 --file "$out/RM20100.BIN" \
    --no-endwait >"$out/ours.\$i" 2>"$out/ours.time.\$i"
  check "our upload \$i"
  # curl reads the body as a stream: the framing, the image and the closing delimiter.
  /usr/bin/time -v sh -c "cat '$out/head' '$out/RM20100.BIN' '$out/tail' | curl -s -o /dev/null \
    -w '%{time_total} %{size_upload}\n' -u kelvo:730162 -H 'Expect:' \
    -H 'Content-Type: multipart/form-data; boundary=---------------------------\$boundary' \
    -H 'Content-Length: \$(( \$(stat -c %s '$out/head') + \$(stat -c %s '$out/RM20100.BIN') + \$(stat -c %s '$out/tail') ))' \
    --data-binary @- http://192.168.0.64/cgi-bin/firmup.cgi" >"$out/curl.\$i" 2>"$out/curl.time.\$i"
  check "curl \$i"
done
# The simulator's peak memory (its namespace holds only the simulator).
for p in \$(ip netns pids "\$LANROVE_LAB_CAM_NS"); do
  sed -n 's/^VmHWM:[[:space:]]*//p' /proc/\$p/status
done >"$out/camsim.mem"
RUN
lab/lab.sh --fleet "$out/fleet.json" --scale 0.01 \
  --camsim "$build/tools/camsim/lanrove-camsim" -- bash "$out/run.sh"

python3 - "$out" "$runs" <<'REPORT'
import json, re, statistics, sys
out, runs = sys.argv[1], int(sys.argv[2])
size = 64 * 1024 * 1024
def peak(path):
    m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", open(path).read())
    return int(m.group(1)) if m else 0
ours, theirs = [], []
for i in range(1, runs + 1):
    o = json.load(open("%s/ours.%d" % (out, i)))
    if o["send"] != 0 or o["sent"] != o["total"]:
        print("FAIL: our upload %d: %s" % (i, o)); sys.exit(1)
    # As curl's total: from opening the POST until the reply is read, less the pause that
    # the upload worker makes after the last piece.
    ours.append(size / o["upload_seconds"] / 1e6)
    t, up = open("%s/curl.%d" % (out, i)).read().split()
    theirs.append(size / float(t) / 1e6)
for i in range(runs):
    print("run %d: ours %.1f MB/s, curl %.1f MB/s" % (i + 1, ours[i], theirs[i]))
mo, mc = statistics.median(ours), statistics.median(theirs)
print("median: ours %.1f MB/s, curl %.1f MB/s, ratio ours/curl %.2f" % (mo, mc, mo / mc))
print("peak memory: ours %d KiB, curl %d KiB" % (
    max(peak("%s/ours.time.%d" % (out, i)) for i in range(1, runs + 1)),
    max(peak("%s/curl.time.%d" % (out, i)) for i in range(1, runs + 1))))
print("simulator peak memory: %s (one stored copy of the 64 MiB image)"
      % open(out + "/camsim.mem").read().strip())
REPORT
