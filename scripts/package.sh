#!/usr/bin/env bash
# Builds the Debian package (build/default/lanrove-setup_VERSION_amd64.deb) from the default
# build and checks it with lintian. Usage: scripts/package.sh [--no-lintian]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
build=build/default
rm -f "$build"/lanrove-setup_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/lanrove-setup_*.deb)
echo "package: $deb"
# The menu entry and the AppStream data as installed.
x=$(mktemp -d)
trap 'rm -rf "$x"' EXIT
dpkg-deb -x "$deb" "$x"
desktop-file-validate "$x/usr/share/applications/lanrove-setup.desktop"
appstreamcli validate --no-net "$x/usr/share/metainfo/com.lanrove.setup.metainfo.xml"
if [ "${1:-}" != "--no-lintian" ]; then
  # Errors fail the script; warnings are shown.
  lintian --fail-on error --tag-display-limit 0 "$deb"
fi
