# Sourced by the bench scripts: Debian packages, a build folder of their own, a
# temporary folder for everything the run makes, and cleanup on any exit.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Its own build folder, so runs never race a build of build/ by someone else.
BUILD=${OVRIN_BENCH_BUILD:-$ROOT/build-bench}
DRIVER_PID=""
WORK=""

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_bench() {
  "$ROOT/scripts/deps.sh"
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j 2 --target ovrin-server ovrin-radio-sim ovrin-faults ovrin-bench ovrin-abuse
}

cleanup() {
  local status=$?
  if [ -n "$DRIVER_PID" ] && kill -0 "$DRIVER_PID" 2>/dev/null; then
    kill -TERM "$DRIVER_PID" 2>/dev/null || true  # it kills the servers and radios it started
    wait "$DRIVER_PID" 2>/dev/null || true
  fi
  if [ -n "$WORK" ]; then
    rm -rf "$WORK"
    # Serial-port lock files of servers that had to be killed (named after the device path).
    rm -f "/var/lock/LCK..${WORK//\//_}_"* 2>/dev/null || true
  fi
  exit "$status"
}

# Servers, radios and their files all live under one temporary folder.
make_workdir() {
  WORK=$(mktemp -d /tmp/ovrin-bench-XXXXXX)
  export TMPDIR=$WORK
  trap cleanup EXIT
  trap 'exit 130' INT TERM HUP
}

# Runs the driver in the background so a signal to this script reaches the trap.
run_driver() {
  "$@" &
  DRIVER_PID=$!
  local status=0
  wait "$DRIVER_PID" || status=$?
  DRIVER_PID=""
  return "$status"
}

# Runs the rest of the calling script again in private network, mount and pty
# namespaces (root), so its ports, pseudo-terminals and serial-port locks collide
# with nothing else on the machine. ser2net's accepter needs an address on an
# interface other than the loopback: a veth pair holds 127.0.0.2/32. Without root
# the run stays in the machine's namespaces.
private_namespaces() {
  if [ "${OVRIN_BENCH_PRIVATE:-}" = 1 ]; then
    ip link set lo up
    mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
    mount --bind /dev/pts/ptmx /dev/ptmx
    mount -t tmpfs tmpfs /run/lock
    ip link add ovrin0 type veth peer name ovrin1
    ip addr add 127.0.0.2/32 dev ovrin0
    ip link set ovrin0 up
    ip link set ovrin1 up
    return 0
  fi
  if [ "$(id -u)" -eq 0 ] && unshare -n -m --propagation private true 2>/dev/null; then
    exec env OVRIN_BENCH_PRIVATE=1 unshare -n -m --propagation private bash "$0" "$@"
  fi
  echo "note: not root; running in the machine's own namespaces"
}

machine_header() {
  echo "date: $(date)"
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"\
       "$(free -g | awk '/Mem:/ {print $2}') GiB, $(. /etc/os-release; echo "$PRETTY_NAME"), kernel $(uname -r)"
  echo "commit: $(git -C "$ROOT" rev-parse --short HEAD)"
}
