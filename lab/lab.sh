#!/usr/bin/env bash
# A simulated camera LAN made of network namespaces: the PC (one to three adapters, and maybe
# one without carrier), a gateway host that answers ping, and the cameras' namespaces running
# lanrove-camsim, joined by veth links on bridges. Runs one command "on the PC" and removes everything afterwards, also after
# a failure or Ctrl-C. Needs root. See lab/README.md.
set -uo pipefail

usage() {
  cat <<'USAGE'
usage: lab/lab.sh [options] [-- COMMAND [ARGS...]]
  --fleet FILE         run lanrove-camsim in the cameras' namespace with this fleet file
  --camsim PATH        the simulator binary (default: built tree)
  --camsim-log FILE    the simulator's datagram log
  --camsim-arg ARG     one more simulator argument (repeatable)
  --adapters 1|2       number of PC adapters (default 1)
  --pc-addr CIDR|none  first adapter's address (default 192.168.0.10/24); none: no IPv4
  --pc-addr2 CIDR|none second adapter's address (default 192.168.0.11/24)
  --gateway ADDR|off   gateway host, default route of the first adapter (default 192.168.0.1)
  --gateway2 ADDR|off  default route of the second adapter (default off)
  --split              second adapter on its own segment with the cameras; the first adapter
                       shares a segment with the gateway only
  --adapter3 CIDR      a third adapter (eth2) on a segment of its own, with the cameras of
                       --fleet3 in a second cameras' namespace
  --fleet3 FILE        the fleet of the third adapter's segment (needs --adapter3)
  --no-carrier CIDR    one more adapter (nc0) that is up with this address but has no carrier
                       (a veth whose peer is down), as an unplugged cable
  --host NAME=ADDR     a host name the PC resolves (repeatable); lab-gateway names the
                       gateway host
  --drop-ping A[-B]    the cameras' namespace drops ICMP echo requests to this address or
                       range (repeatable; nftables): a fleet host there still answers ARP
  --scale S            export LANROVE_TIME_SCALE=S to the PC and the simulator
  --check              only test whether a lab can be built here (exit 0, or 77 when not)
Without COMMAND an interactive shell runs on the PC.
The command sees LANROVE_LAB_PC_NS, LANROVE_LAB_CAM_NS, LANROVE_LAB_GW_NS, LANROVE_LAB_CAM_IF
(and LANROVE_LAB_CAM3_NS with --fleet3).
USAGE
}

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(dirname "$here")"
fleet="" camsim="" camsim_log="" camsim_args=()
adapters=1 pc_addr="192.168.0.10/24" pc_addr2="192.168.0.11/24"
gateway="192.168.0.1" gateway2="off" split=0 check=0 hosts=() drop_ping=()
pc_addr3="" fleet3="" no_carrier=""
scale="${LANROVE_TIME_SCALE:-}"

while [ $# -gt 0 ]; do
  case "$1" in
    --fleet) fleet="$2"; shift 2 ;;
    --camsim) camsim="$2"; shift 2 ;;
    --camsim-log) camsim_log="$2"; shift 2 ;;
    --camsim-arg) camsim_args+=("$2"); shift 2 ;;
    --adapters) adapters="$2"; shift 2 ;;
    --pc-addr) pc_addr="$2"; shift 2 ;;
    --pc-addr2) pc_addr2="$2"; shift 2 ;;
    --gateway) gateway="$2"; shift 2 ;;
    --gateway2) gateway2="$2"; shift 2 ;;
    --split) split=1; shift ;;
    --adapter3) pc_addr3="$2"; shift 2 ;;
    --fleet3) fleet3="$2"; shift 2 ;;
    --no-carrier) no_carrier="$2"; shift 2 ;;
    --host) hosts+=("$2"); shift 2 ;;
    --drop-ping) drop_ping+=("$2"); shift 2 ;;
    --scale) scale="$2"; shift 2 ;;
    --check) check=1; shift ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    *) echo "lab: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
case "$adapters" in 1|2) ;; *) echo "lab: --adapters is 1 or 2" >&2; exit 2 ;; esac
if [ -n "$fleet3" ] && [ -z "$pc_addr3" ]; then
  echo "lab: --fleet3 needs --adapter3" >&2; exit 2
fi

fail() { echo "lab: $*" >&2; exit 70; }

if [ "$(id -u)" -ne 0 ]; then
  echo "lab: needs root (network namespaces)" >&2
  exit 77
fi
command -v ip >/dev/null || { echo "lab: the ip tool (iproute2) is missing" >&2; exit 77; }
if [ ${#drop_ping[@]} -gt 0 ] && ! command -v nft >/dev/null; then
  echo "lab: --drop-ping needs nft (nftables; scripts/setup.sh installs it)" >&2
  exit 77
fi

suffix="$$-$RANDOM"
pc="lr-pc-$suffix" cam="lr-cam-$suffix" gw="lr-gw-$suffix" hub="lr-hub-$suffix"
cam3="lr-cam3-$suffix"
created=()
tmp=""
camsim_pid="" camsim3_pid=""

# Ends one simulator (pid, output file); a simulator that failed or crashed makes the whole
# run fail.
end_camsim() {
  kill -TERM "$1" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  local camsim_rc=$?
  if [ "$camsim_rc" -ne 0 ]; then
    echo "lab: lanrove-camsim ended with status $camsim_rc" >&2
    cat "$2" >&2
    return 1
  fi
  return 0
}

cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  if [ -n "$camsim_pid" ]; then
    end_camsim "$camsim_pid" "$tmp/camsim.out" || { [ "$rc" -eq 0 ] && rc=70; }
  fi
  if [ -n "$camsim3_pid" ]; then
    end_camsim "$camsim3_pid" "$tmp/camsim3.out" || { [ "$rc" -eq 0 ] && rc=70; }
  fi
  for ns in "${created[@]}"; do
    # Processes left inside our own namespaces are ours; end them by id.
    for p in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$p" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
  rm -rf "/etc/netns/$pc"
  [ -n "$tmp" ] && rm -rf "$tmp"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

newns() {
  ip netns add "$1" || return 1
  created+=("$1")
  ip -n "$1" link set lo up
}

if [ "$check" -eq 1 ]; then
  newns "$hub" 2>/dev/null || { echo "lab: cannot create network namespaces here" >&2; exit 77; }
  ip -n "$hub" link add vcheck0 type veth peer name vcheck1 2>/dev/null \
    || { echo "lab: cannot create veth links here" >&2; exit 77; }
  ip -n "$hub" link add brcheck type bridge 2>/dev/null \
    || { echo "lab: cannot create bridges here" >&2; exit 77; }
  exit 0
fi

prefix_of() { case "$1" in */*) echo "${1#*/}" ;; *) echo 24 ;; esac; }

tmp="$(mktemp -d /tmp/lanrove-lab.XXXXXX)" || fail "no temporary folder"
for ns in "$hub" "$pc" "$gw"; do newns "$ns" || fail "cannot create namespace $ns"; done
[ -n "$fleet" ] && { newns "$cam" || fail "cannot create namespace $cam"; }
[ -n "$fleet3" ] && { newns "$cam3" || fail "cannot create namespace $cam3"; }

ip -n "$hub" link add br0 type bridge || fail "bridge"
ip -n "$hub" link set br0 up
seg2=br0
if [ "$split" -eq 1 ]; then
  ip -n "$hub" link add br1 type bridge || fail "bridge"
  ip -n "$hub" link set br1 up
  seg2=br1
fi

# The PC's adapters.
plug() {  # plug HUB_PORT BRIDGE NS IFNAME
  ip -n "$hub" link add "$1" type veth peer name "$4" netns "$3" || fail "veth $1"
  ip -n "$hub" link set "$1" master "$2" up || fail "bridge port $1"
  ip -n "$3" link set "$4" up || fail "link $4"
}
plug pc0 br0 "$pc" eth0
[ "$pc_addr" != none ] && { ip -n "$pc" addr add "$pc_addr" dev eth0 || fail "address $pc_addr"; }
if [ "$adapters" -eq 2 ]; then
  plug pc1 "$seg2" "$pc" eth1
  [ "$pc_addr2" != none ] && { ip -n "$pc" addr add "$pc_addr2" dev eth1 || fail "address $pc_addr2"; }
fi
if [ -n "$pc_addr3" ]; then
  ip -n "$hub" link add br2 type bridge || fail "bridge"
  ip -n "$hub" link set br2 up
  plug pc2 br2 "$pc" eth2
  ip -n "$pc" addr add "$pc_addr3" dev eth2 || fail "address $pc_addr3"
fi
if [ -n "$no_carrier" ]; then
  # The hub's end stays down: the PC's end is up with its address, but without carrier.
  ip -n "$hub" link add pcnc type veth peer name nc0 netns "$pc" || fail "veth pcnc"
  ip -n "$pc" link set nc0 up || fail "link nc0"
  ip -n "$pc" addr add "$no_carrier" dev nc0 || fail "address $no_carrier"
fi
# Replies from cameras outside the PC's subnet must not be dropped by reverse-path checks.
ip netns exec "$pc" sh -c 'for f in /proc/sys/net/ipv4/conf/*/rp_filter; do echo 0 > "$f"; done' 2>/dev/null

# The gateway host: answers ping on the first segment.
if [ "$gateway" != off ] || [ "$gateway2" != off ]; then
  plug gw0 br0 "$gw" eth0
  if [ "$gateway" != off ]; then
    ip -n "$gw" addr add "$gateway/$(prefix_of "$pc_addr")" dev eth0 || fail "gateway address"
    [ "$pc_addr" != none ] && { ip -n "$pc" route add default via "$gateway" dev eth0 metric 100 || fail "default route"; }
  fi
  if [ "$gateway2" != off ] && [ "$adapters" -eq 2 ]; then
    if [ "$split" -eq 1 ]; then
      plug gw1 br1 "$gw" eth1
      ip -n "$gw" addr add "$gateway2/$(prefix_of "$pc_addr2")" dev eth1 || fail "gateway address 2"
    elif [ "$gateway2" != "$gateway" ]; then
      ip -n "$gw" addr add "$gateway2/$(prefix_of "$pc_addr2")" dev eth0 || fail "gateway address 2"
    fi
    [ "$pc_addr2" != none ] && { ip -n "$pc" route add default via "$gateway2" dev eth1 metric 200 || fail "default route 2"; }
  fi
fi

# Names the PC resolves, and no name server outside the lab.
mkdir -p "/etc/netns/$pc" || fail "/etc/netns/$pc"
{
  echo "127.0.0.1 localhost"
  [ "$gateway" != off ] && echo "$gateway lab-gateway"
  for h in "${hosts[@]}"; do echo "${h#*=} ${h%%=*}"; done
} > "/etc/netns/$pc/hosts"
echo "nameserver 127.0.0.1" > "/etc/netns/$pc/resolv.conf"

[ -n "$scale" ] && export LANROVE_TIME_SCALE="$scale"

# The cameras.
find_camsim() {
  if [ -z "$camsim" ]; then
    for c in "${LANROVE_BINARY_DIR:-}/tools/camsim/lanrove-camsim" "$source_dir/build/default/tools/camsim/lanrove-camsim"; do
      [ -x "$c" ] && { camsim="$c"; break; }
    done
  fi
  [ -x "$camsim" ] || fail "lanrove-camsim not found (build it or pass --camsim)"
}
# start_camsim PIDVAR NS HUB_PORT BRIDGE FLEET NAME [LOG]: the simulator's id goes to PIDVAR
# at once (so that the clean-up ends it whatever happens next); waits until it is ready.
start_camsim() {
  local pidvar="$1" ns="$2" port="$3" bridge="$4" file="$5" name="$6" log="${7:-}"
  [ -r "$file" ] || fail "cannot read fleet file $file"
  plug "$port" "$bridge" "$ns" cams0
  # Cameras answer pings from any subnet on their segment.
  ip -n "$ns" route add default dev cams0 || fail "cameras' route"
  # The namespace and its addresses go together when the lab ends.
  local args=(--fleet "$file" --interface cams0 --ready-file "$tmp/$name.ready" --leave-addresses)
  [ -n "$log" ] && args+=(--log "$log")
  ip netns exec "$ns" "$camsim" "${args[@]}" "${camsim_args[@]}" >"$tmp/$name.out" 2>&1 &
  local pid=$!
  printf -v "$pidvar" '%s' "$pid"
  for _ in $(seq 200); do
    [ -e "$tmp/$name.ready" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$tmp/$name.out" >&2; printf -v "$pidvar" '%s' ""; fail "lanrove-camsim ended"; }
    sleep 0.05
  done
  [ -e "$tmp/$name.ready" ] || fail "lanrove-camsim did not get ready"
}
if [ -n "$fleet" ] || [ -n "$fleet3" ]; then find_camsim; fi
[ -n "$fleet3" ] && start_camsim camsim3_pid "$cam3" cam3 br2 "$fleet3" camsim3
if [ -n "$fleet" ]; then
  start_camsim camsim_pid "$cam" cam0 "$seg2" "$fleet" camsim "$camsim_log"
  if [ ${#drop_ping[@]} -gt 0 ]; then
    # Firewalled hosts: no echo reply, while the kernel still answers ARP for the address.
    set_items="$(IFS=,; echo "${drop_ping[*]}")"
    ip netns exec "$cam" nft -f - <<NFT || fail "nftables rule for --drop-ping"
table ip lanrove_lab {
  chain input {
    type filter hook input priority 0; policy accept;
    ip daddr { $set_items } icmp type echo-request drop
  }
}
NFT
  fi
fi

[ -n "$fleet" ] || cam=""
[ -n "$fleet3" ] || cam3=""
export LANROVE_LAB_PC_NS="$pc" LANROVE_LAB_CAM_NS="$cam" LANROVE_LAB_GW_NS="$gw" LANROVE_LAB_CAM_IF=cams0
export LANROVE_LAB_CAM3_NS="$cam3"
if [ $# -eq 0 ]; then
  echo "lab: PC namespace $pc (exit the shell to remove the lab)" >&2
  ip netns exec "$pc" "${SHELL:-/bin/bash}"
else
  # In the background so that a signal to this script ends the run at once (the trap then
  # ends what still runs in the lab); standard input stays the caller's.
  ip netns exec "$pc" "$@" 0<&0 &
  wait $!
fi
