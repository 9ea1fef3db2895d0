#!/usr/bin/env bash
# Runs the Win32 serial facility's test under Wine in a prefix of its own, with a
# pseudo-terminal as COM1 (no modem lines); its other side is closed, the device
# pulled, when the test makes the file named in OVRIN_UNPLUG. Exits 77 (skipped)
# without Wine.
#   comm_test.sh <win32_comm_test.exe>
set -uo pipefail
exe=$1
[ -x /usr/lib/wine/wine64 ] || { echo "SKIPPED: wine64 is not installed"; exit 77; }
# As root: pseudo-terminals of our own.
if [ "$(id -u)" = 0 ] && [ -z "${OVRIN_E2E_PRIVATE:-}" ] && command -v unshare >/dev/null; then
  exec env OVRIN_E2E_PRIVATE=1 unshare -m --propagation private bash -c \
    'mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts && mount --bind /dev/pts/ptmx /dev/ptmx &&
     exec bash "$0" "$@"' "$0" "$@"
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-comm-XXXXXX")
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine=/usr/lib/wine/wine64
cleanup() {
  kill "$terminal" 2>/dev/null
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
python3 -c '
import os, pty, sys, time
master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
os.close(slave)
while not os.path.exists(sys.argv[1]):
    time.sleep(0.01)
os.close(master)
open(sys.argv[1] + ".done", "w").close()
' "$dir/unplug" >"$dir/device" &
terminal=$!
"$wine" wineboot -i >/dev/null 2>&1
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$(head -n1 "$dir/device")" /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w
OVRIN_UNPLUG="Z:${dir//\//\\}\\unplug" "$wine" "$exe"
