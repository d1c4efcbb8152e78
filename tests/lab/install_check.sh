#!/usr/bin/env bash
# Installs a built lanrove-setup .deb into a throw-away Debian root, checks what it put where,
# runs `lanrove-cli version` and a search on a lab LAN as an ordinary user, removes the
# package again and takes the root down.
#
# The root is made from this machine's own Debian installation without any download:
# copy-on-write overlays over /usr, /etc and /var, so that dpkg installs into the overlays and
# the machine itself stays untouched. Needs root.
#
# usage: install_check.sh DEB LAB_SH CAMSIM FLEET WORKDIR
set -euo pipefail
deb=$1 lab=$2 camsim=$3 fleet=$4 W=$5
R=$W/root
user=camuser

say() { echo "@@$*"; }
fail() { echo "install check: $*" >&2; exit 1; }

cleanup() {
  # Deepest mounts first; a busy one is detached lazily so that nothing stays behind.
  local m
  for m in $(findmnt -rn -o TARGET | grep -F "$R" | sort -r); do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
  done
}
trap cleanup EXIT

mkdir -p "$R"
for d in usr etc var; do
  mkdir -p "$W/upper/$d" "$W/work/$d" "$R/$d"
  mount -t overlay overlay -o "lowerdir=/$d,upperdir=$W/upper/$d,workdir=$W/work/$d" "$R/$d"
done
for l in bin lib lib64 sbin; do
  [ -L "/$l" ] && ln -s "$(readlink "/$l")" "$R/$l"
done
mkdir -p "$R/proc" "$R/dev" "$R/tmp" "$R/run" "$R/home" "$R/root" "$R/sys"
mount -t proc proc "$R/proc"
mount --rbind /dev "$R/dev"
mount --make-rslave "$R/dev"
for t in tmp run home; do mount -t tmpfs tmpfs "$R/$t"; done
chmod 1777 "$R/tmp"

in_root() { chroot "$R" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_user() {
  chroot --userspec="$user:$user" "$R" env -i HOME="/home/$user" PATH=/usr/bin:/bin \
    LANG=C.UTF-8 ${LANROVE_TIME_SCALE:+LANROVE_TIME_SCALE=$LANROVE_TIME_SCALE} "$@"
}

if in_root dpkg-query -W -f='${Status}' lanrove-setup 2>/dev/null | grep -q 'ok installed'; then
  fail "lanrove-setup is already installed on this machine: the root would not be fresh"
fi
cp "$deb" "$R/tmp/lanrove-setup.deb"
in_root dpkg -i /tmp/lanrove-setup.deb >"$W/dpkg-install.txt" 2>&1 ||
  fail "dpkg -i failed: $(tail -5 "$W/dpkg-install.txt")"

say files
for f in /usr/bin/lanrove-setup /usr/bin/lanrove-cli /usr/bin/lanrove-setup_FWTOOL \
  /usr/bin/lanrove-camsim /usr/share/applications/lanrove-setup.desktop \
  /usr/share/icons/hicolor/scalable/apps/lanrove-setup.svg \
  /usr/share/metainfo/com.lanrove.setup.metainfo.xml /usr/share/man/man1/lanrove-cli.1.gz \
  /usr/share/man/man1/lanrove-setup.1.gz /usr/share/bash-completion/completions/lanrove-cli; do
  if [ -e "$R$f" ]; then echo "present $f"; else echo "absent $f"; fi
done
[ -L "$R/usr/bin/lanrove-setup_FWTOOL" ] && echo "link $(readlink "$R/usr/bin/lanrove-setup_FWTOOL")"

in_root useradd -m -s /bin/bash "$user"
say version
as_user lanrove-cli version || echo "exit $?"
say completion
as_user bash -c '. /usr/share/bash-completion/completions/lanrove-cli
  COMP_WORDS=(lanrove-cli sea); COMP_CWORD=1; _lanrove_cli; echo "${COMPREPLY[*]}"
  COMP_WORDS=(lanrove-cli info --j); COMP_CWORD=2; _lanrove_cli; echo "${COMPREPLY[*]}"'

say search
"$lab" --fleet "$fleet" --scale "${LANROVE_TIME_SCALE:-0.05}" --camsim "$camsim" -- \
  chroot --userspec="$user:$user" "$R" env -i HOME="/home/$user" PATH=/usr/bin:/bin \
  LANG=C.UTF-8 LANROVE_TIME_SCALE="${LANROVE_TIME_SCALE:-0.05}" lanrove-cli search --json \
  2>"$W/search-err.txt" || echo "exit $?"
say folder
as_user sh -c 'ls -d "$HOME/.local/share/lanrove-setup" 2>/dev/null; true'
say logs
as_user sh -c 'echo "flush notes $(cat "$HOME"/.local/share/lanrove-setup/IPLog/* 2>/dev/null | grep -c "ARP cache not flushed")"'

say remove
in_root dpkg -r lanrove-setup >"$W/dpkg-remove.txt" 2>&1 || echo "dpkg -r failed"
for f in /usr/bin/lanrove-setup /usr/bin/lanrove-cli /usr/bin/lanrove-setup_FWTOOL; do
  if [ -e "$R$f" ] || [ -L "$R$f" ]; then echo "left $f"; fi
done
echo "@@end"
