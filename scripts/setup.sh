#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the lab need, but only those that
# are missing, so that a second run is quick.
set -euo pipefail
pkgs=(build-essential cmake ninja-build ccache pkg-config
      qt6-base-dev libcurl4-openssl-dev libssl-dev libcpp-httplib-dev nlohmann-json3-dev libjpeg-dev libcli11-dev
      libpugixml-dev                  # the SOAP texts of other makers' cameras
      libgtest-dev libgmock-dev libbenchmark-dev iproute2 iputils-ping nftables curl time
      xvfb xauth imagemagick poppler-utils
      clang libclang-rt-14-dev llvm   # the fuzz preset: libFuzzer runtime, llvm-symbolizer
      fonts-noto-cjk                  # Japanese and Chinese texts (demo, font test)
      dpkg-dev lintian desktop-file-utils appstream  # the package and its checks
      ansible-core                    # the Ansible collection: its lab test and ansible-doc
      openssh-server)                 # the site PCs of that lab test (started only there)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # No service the packages bring (the SSH server) is started on this machine.
  guard=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$guard" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$guard"
  fi
  rc=0
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || rc=$?
  [ -n "$guard" ] && "${sudo_cmd[@]}" rm -f "$guard"
  [ "$rc" -eq 0 ] || exit "$rc"
fi
