#!/usr/bin/env bash
# Runs a command in network namespaces of its own, so that nothing it sends reaches the machine's
# network:
#
#   private-network.sh router FAKE_ROUTER COMMAND [ARGS...]
#   private-network.sh loopback COMMAND [ARGS...]
#
# router: the command runs in a namespace whose default route leads over a veth pair (qh0,
# 10.77.0.2) to 10.77.0.1 in a second namespace, where FAKE_ROUTER plays the home router. The
# command finds QUIB_ROUTER_NAMESPACE=1, and in QUIB_FAKE_ROUTER_RECORD the file where the
# router writes what it received.
#
# loopback: the command runs in a namespace that has only "lo", up: it reaches 127.0.0.1 and
# nothing else. The command finds QUIB_LOOPBACK_NAMESPACE=1.
#
# Making namespaces needs root (or CAP_SYS_ADMIN): without, the script says why and returns 77.
# Nothing is left to clean: the namespaces and the veth pair vanish with their last process,
# whatever way the script ends.
set -euo pipefail

usage() {
  echo "usage: $0 router FAKE_ROUTER COMMAND [ARGS...]" >&2
  echo "       $0 loopback COMMAND [ARGS...]" >&2
  exit 2
}
case "${1:-}" in
  router) [ $# -ge 3 ] || usage ;;
  loopback) [ $# -ge 2 ] || usage ;;
  *) usage ;;
esac

if [ -z "${QUIB_IN_PRIVATE_NETWORK:-}" ]; then
  if ! why=$(unshare -n true 2>&1); then
    echo "private-network.sh: skipped: cannot make a network namespace (root or CAP_SYS_ADMIN is needed): $why"
    exit 77
  fi
  # The new namespace is the host's.
  QUIB_IN_PRIVATE_NETWORK=1 exec unshare -n "$0" "$@"
fi

if [ "$1" = loopback ]; then
  shift
  ip link set lo up
  export QUIB_LOOPBACK_NAMESPACE=1
  exec "$@"
fi

router_program=$2
shift 2
scratch=$(mktemp -d)
router=
namespace=
cleanup() {
  for pid in $router $namespace; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

ip link set lo up
# The router's namespace: a plain child process, with no name to clean up, that ends with the
# script however it ends.
unshare -n setpriv --pdeathsig KILL sleep 600 &
namespace=$!
own=$(readlink /proc/self/ns/net)
for _ in $(seq 500); do
  theirs=$(readlink "/proc/$namespace/ns/net" 2>/dev/null || true)
  [ -n "$theirs" ] && [ "$theirs" != "$own" ] && break
  sleep 0.01
done
ip link add qh0 type veth peer name qr0 netns "$namespace"
ip addr add 10.77.0.2/24 dev qh0
ip link set qh0 up
nsenter -t "$namespace" -n sh -c 'ip link set lo up && ip addr add 10.77.0.1/24 dev qr0 && ip link set qr0 up'
ip route add default via 10.77.0.1

record=$scratch/router.record
nsenter -t "$namespace" -n "$router_program" --addr 10.77.0.1 --record "$record" &
router=$!
for _ in $(seq 500); do
  grep -qx ready "$record" 2>/dev/null && break
  kill -0 "$router" 2>/dev/null || break
  sleep 0.01
done
if ! grep -qx ready "$record" 2>/dev/null; then
  echo "private-network.sh: the fake router did not start" >&2
  exit 1
fi

export QUIB_ROUTER_NAMESPACE=1 QUIB_FAKE_ROUTER_RECORD=$record
status=0
"$@" || status=$?
exit $status
