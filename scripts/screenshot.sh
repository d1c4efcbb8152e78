#!/usr/bin/env bash
# Pictures of the desktop program on a simulated LAN (lab/lab.sh, so it needs root) under a
# virtual X server: the splash, the main window before and after a search, the search window,
# the maintenance edition after a search and during a firmware update (lab/fleets/site.json
# with the firmware of lab/firmware), the address plan's preview (lab/plans/site-six-rows.csv
# on lab/fleets/plan-site.json) and the first page of that site's handover report. Saves PNG
# files into docs/screenshots/.
#
#   scripts/screenshot.sh [FLEET] [OUTPUT_DIR]
#
# FLEET (for the first pictures) defaults to lab/fleets/demo.json. The build must exist
# (cmake --build --preset default).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
src="$(dirname "$here")"
build="${LANROVE_BINARY_DIR:-$src/build/default}"
fleet="$(realpath "${1:-$src/lab/fleets/demo.json}")"
out="$(realpath -m "${2:-$src/docs/screenshots}")"
setup="$build/src/ui/lanrove-setup"
cli="$build/src/lanrove-cli"
site_fleet="$src/lab/fleets/site.json"
plan_fleet="$src/lab/fleets/plan-site.json"
plan="$src/lab/plans/site-six-rows.csv"

[ -x "$setup" ] || { echo "screenshot: $setup is missing; build first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing (scripts/setup.sh)" >&2; exit 1; }
command -v pdftoppm >/dev/null || { echo "screenshot: pdftoppm is missing (poppler-utils)" >&2; exit 1; }

work="$(mktemp -d /tmp/lanrove-shots.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/home" "$work/run" "$work/bin" "$work/fwhome" "$work/planhome"
chmod 700 "$work/run"
# The maintenance edition is the same program under a name with the marker.
ln -s "$setup" "$work/bin/lanrove-setup_fwtool"
# The update takes its images from the program folder.
cp -r "$src/lab/firmware/." "$work/fwhome/"

# Everything runs on the lab's PC: the X server too, so no packet leaves the lab.
run_on_lab() {  # run_on_lab FLEET PROGRAM HOME SHOT_DIR [SWITCH...]
  local lab_fleet="$1" program="$2" home="$3" shots="$4"
  shift 4
  "$src/lab/lab.sh" --fleet "$lab_fleet" --scale 0.1 -- \
    env XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
    "$program" --home "$home" --answer-boxes "$work/boxes.txt" \
    --screenshot-dir "$shots" --auto-search --quit-when-done "$@"
}

run_on_lab "$fleet" "$setup" "$work/home" "$work/standard"
run_on_lab "$fleet" "$work/bin/lanrove-setup_fwtool" "$work/home" "$work/maintenance"
# The update's question is answered Yes: the cameras are the lab's.
run_on_lab "$site_fleet" "$work/bin/lanrove-setup_fwtool" "$work/fwhome" "$work/firmware" \
  --auto-firmware-update --yes
run_on_lab "$plan_fleet" "$setup" "$work/planhome" "$work/plan" --auto-plan "$plan"
"$src/lab/lab.sh" --fleet "$plan_fleet" --scale 0.1 -- \
  "$cli" report --out "$work/report.pdf" --snapshots --site "Demo site" --home "$work/planhome"
pdftoppm -png -r 60 -f 1 -l 1 -singlefile "$work/report.pdf" "$work/report-page"

for f in splash main-window search-window main-window-after-search; do
  cp "$work/standard/$f.png" "$out/$f.png"
done
cp "$work/maintenance/main-window-after-search.png" "$out/maintenance-after-search.png"
cp "$work/firmware/firmware-update.png" "$out/firmware-update.png"
cp "$work/plan/plan-preview.png" "$out/plan-preview.png"
cp "$work/report-page.png" "$out/report-page.png"
if [ -s "$work/boxes.txt" ]; then
  echo "screenshot: message boxes were shown:" >&2
  cat "$work/boxes.txt" >&2
fi
echo "screenshot: pictures in $out"
