#!/usr/bin/env bash
# Pictures of the desktop program on a simulated LAN (lab/lab.sh, so it needs root) under a
# virtual X server: the splash, the main window before and after a search, the search window,
# and the maintenance edition after a search. Saves PNG files into docs/screenshots/.
#
#   scripts/screenshot.sh [FLEET] [OUTPUT_DIR]
#
# FLEET defaults to lab/fleets/demo.json. The build must exist (cmake --build --preset default).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$(dirname "$here")"
build="${LANROVE_BINARY_DIR:-$src/build/default}"
fleet="$(realpath "${1:-$src/lab/fleets/demo.json}")"
out="$(realpath -m "${2:-$src/docs/screenshots}")"
setup="$build/src/ui/lanrove-setup"

[ -x "$setup" ] || { echo "screenshot: $setup is missing; build first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (scripts/setup.sh)" >&2; exit 1; }

work="$(mktemp -d /tmp/lanrove-shots.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/home" "$work/run" "$work/bin"
chmod 700 "$work/run"
# The maintenance edition is the same program under a name with the marker.
ln -s "$setup" "$work/bin/lanrove-setup_fwtool"

# Everything runs on the lab's PC: the X server too, so no packet leaves the lab.
run_on_lab() {  # run_on_lab PROGRAM SHOT_DIR
  "$src/lab/lab.sh" --fleet "$fleet" --scale 0.1 -- \
    env XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
    "$1" --home "$work/home" --answer-boxes "$work/boxes.txt" \
    --screenshot-dir "$2" --auto-search --quit-when-done
}

run_on_lab "$setup" "$work/standard"
run_on_lab "$work/bin/lanrove-setup_fwtool" "$work/maintenance"

for f in splash main-window search-window main-window-after-search; do
  cp "$work/standard/$f.png" "$out/$f.png"
done
cp "$work/maintenance/main-window-after-search.png" "$out/maintenance-after-search.png"
if [ -s "$work/boxes.txt" ]; then
  echo "screenshot: message boxes were shown:" >&2
  cat "$work/boxes.txt" >&2
fi
echo "screenshot: pictures in $out"
