#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer + UBSan) and runs every fuzz target
# for SECONDS (default 30), as many at a time as there are cores, each from a scratch copy of
# its seed corpus in tests/fuzz/corpus/<name>, so the repository's seeds stay as they are.
# Fails when a target finds a crash, a leak, a broken invariant or a hang; the input that did it
# is kept in build/fuzz/findings/.
# Usage: scripts/fuzz.sh [SECONDS] [NAME...]   (NAME: e.g. datagram, http_reply)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bin=build/fuzz/tests/fuzz
findings=build/fuzz/findings
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$findings"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for t in "$bin"/fuzz_*; do
    [ -x "$t" ] && [ "$t" != "$bin/fuzz_make_seeds" ] && names+=("$(basename "$t" | sed 's/^fuzz_//')")
  done
fi
# One target: its log and crash input go to $findings, its exit code to $work/NAME.rc.
run() {
  local name=$1
  mkdir -p "$work/$name"
  cp tests/fuzz/corpus/"$name"/* "$work/$name/" 2>/dev/null || true
  local rc=0
  "$bin/fuzz_$name" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/$name-" "$work/$name" \
    >"$findings/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$work/$name.rc"
}
# As many targets at a time as there are cores (FUZZ_JOBS overrides).
jobs=${FUZZ_JOBS:-$(nproc)}
running=0
for name in "${names[@]}"; do
  run "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait
failed=()
for name in "${names[@]}"; do
  log="$findings/$name.log"
  if [ "$(cat "$work/$name.rc")" = 0 ]; then
    echo "fuzz $name: ok, $(grep -o 'number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs in ${seconds}s"
  else
    echo "fuzz $name: FAILED (log $log)"
    echo "  reproduce: $bin/fuzz_$name $findings/$name-<file>"
    grep -E 'ERROR|invariant failed|SUMMARY|Test unit written|Base64' "$log" | head -20 || true
    failed+=("$name")
  fi
done
[ ${#failed[@]} -eq 0 ] || echo "fuzz: failed targets: ${failed[*]}"
echo "fuzz: $(( ${#names[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
