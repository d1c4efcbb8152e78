#!/usr/bin/env bash
# The demo: sets up and builds, then runs lanrove-setup on the PC of a simulated camera LAN
# (lab/fleets/demo.json). With --cli, or without a display, runs `lanrove-cli search` instead.
# With --site: the firmware site (lab/fleets/site.json and the firmware folders of lab/firmware)
# in the maintenance edition, to show F/W Check and F/W Update (`lanrove-cli fw-check` with --cli).
# Needs root for the network namespaces; nothing reaches the machine's own network.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=gui
fleet=lab/fleets/demo.json
site=0
while [ $# -gt 0 ]; do
  case "$1" in
    --cli) mode=cli; shift ;;
    --fleet) fleet="$2"; shift 2 ;;
    --site) site=1; fleet=lab/fleets/site.json; shift ;;
    -h|--help) echo "usage: scripts/demo.sh [--cli] [--fleet FILE] [--site]"; exit 0 ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
done
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ "$mode" = gui ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display; running the command-line search instead (use Xvfb or a desktop for the window)" >&2
  mode=cli
fi
home=$PWD/build/demo-home
mkdir -p "$home"
build=build/default
setup=$build/src/ui/lanrove-setup
cli=$build/src/lanrove-cli
cli_args=(search)
if [ "$site" = 1 ]; then
  # The maintenance edition is chosen by the program's name.
  home=$PWD/build/demo-site-home
  mkdir -p "$home"
  cp -r lab/firmware/. "$home/"
  ln -sf "$PWD/$setup" "$home/lanrove-setup_fwtool"
  ln -sf "$PWD/$cli" "$home/lanrove-cli_fwtool"
  setup=$home/lanrove-setup_fwtool
  cli=$home/lanrove-cli_fwtool
  cli_args=(fw-check)
fi
if [ "$mode" = gui ]; then
  lab/lab.sh --fleet "$fleet" --scale 0.05 -- \
    env DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
        XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" \
        "$setup" --home "$home"
else
  lab/lab.sh --fleet "$fleet" --scale 0.05 -- "$cli" "${cli_args[@]}" --home "$home"
fi
echo "demo: trace log in $home/IPLog" >&2
