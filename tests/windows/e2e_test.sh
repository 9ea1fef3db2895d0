#!/usr/bin/env bash
# The Windows program under Wine, end to end: a pseudo-terminal radio (the Linux
# radio simulator) as COM20 (listed by --list-ports as Windows lists it), the
# window on a private Xvfb, a Linux TCP client. Checks --help in Windows terms,
# a command and its answer, /status.json on the status port, the PTT command
# (asked about, answered Yes, the check box turned red), RTS rising and falling for the in-band command, for a remote
# serial port (RFC 2217) client and at the transmit limit (Wine's serial code sets
# the lines on its Unix side, where the Linux tests' LD_PRELOAD shim gives the
# pseudo-terminal modem lines and records them) and that client's CTS following
# RTS through the shim, the window's caption, size and status picture, the
# settings file the program writes beside itself when closed with Alt+F4, a CAT
# key's release (RX;) heard by the radio before the port closes at Off-line and at
# the program's end on a line the shim makes slow, and the window closed while a
# message box is open (the box takes its safe answer). Exits 77 (skipped) when
# Wine, Xvfb, pyserial, the radio simulator or the shim is missing.
#   e2e_test.sh <ovrin-server.exe> <ovrin-radio-sim> <modem shim>
# shellcheck disable=SC2317  # functions called from the trap and through until_ok
set -uo pipefail
exe=$1 radio=${2:-} shim=${3:-}
skip() { echo "SKIPPED: $*"; exit 77; }
[ -x /usr/lib/wine/wine64 ] || skip "wine64 is not installed"
[ -x "$radio" ] || skip "no radio simulator (build the Linux program first)"
[ -f "$shim" ] || skip "no modem-line shim (build the Linux program first)"
command -v Xvfb >/dev/null || skip "Xvfb is not installed"
/usr/bin/python3 -c 'import serial' 2>/dev/null || skip "pyserial (python3-serial) is not installed"
# As root: a network and pseudo-terminals of our own, so parallel runs never meet.
if [ "$(id -u)" = 0 ] && [ -z "${OVRIN_E2E_PRIVATE:-}" ] && command -v unshare >/dev/null; then
  exec env OVRIN_E2E_PRIVATE=1 unshare -n -m --propagation private bash -c \
    'ip link set lo up && mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts &&
     mount --bind /dev/pts/ptmx /dev/ptmx && mount -t tmpfs tmpfs /run/lock && exec bash "$0" "$@"' "$0" "$@"
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-wine-XXXXXX")
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
wine=/usr/lib/wine/wine64
pids=() failed=0 win='' last=''
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  /usr/lib/wine/wineserver -k >/dev/null 2>&1
  wait 2>/dev/null
  if [ "$failed" = 0 ]; then rm -rf "$dir"; else echo "logs and screenshots are kept in $dir"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL: $*" >&2; failed=1; exit 1; }
check() { "$@" || { echo "FAIL: $*" >&2; failed=1; }; }
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}
listening() {
  awk -v p="$(printf ':%04X' "$1")" '$4 == "0A" && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' \
    /proc/net/tcp /proc/net/tcp6
}
logged() { grep -q -- "$1" "$dir/server.log"; }
# rts N [COUNT]: RTS's last state in the shim's record is N, after COUNT changes at least.
rts() {
  awk -v want="$1" -v least="${2:-0}" '$2 == "RTS" { s = $3; n++ } END { exit !(s == want && n >= least) }' \
    "$dir/modem.log" 2>/dev/null
}
lacks() { ! grep -q -- "$1" "$2"; }
shot() { last="$dir/shot.png"; import -window "$win" "png:$last" 2>/dev/null; }
# count AREA COLOUR: pixels of a fresh screenshot in WxH+X+Y that have the colour.
count() {
  local fx
  case $2 in
    amber) fx='r>0.7 && g>0.43 && g<0.78 && b<0.27' ;;
    green) fx='g>0.55 && r<0.4 && b<0.4' ;;
    red) fx='r>0.59 && g<0.27 && b<0.27' ;;
    dark) fx='0.299*r + 0.587*g + 0.114*b < 0.39' ;;
  esac
  shot && convert "$last" -crop "$1" +repage -fx "$fx" -format '%[fx:round(mean*w*h)]' info:
}
shows() { [ "$(count "$1" "$2")" -ge "$3" ]; }
found() { win=$(xdotool search --onlyvisible --name "$1" | head -n1); [ -n "$win" ]; }
exited() { ! kill -0 "$1" 2>/dev/null; }

# --- a fresh prefix, the program in a folder of its own, COM1 the radio ---
"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
mkdir "$dir/app" && cp "$exe" "$dir/app/ovrin-server.exe" || fail "no program at $exe"
"$radio" --mode cat --log "$dir/radio.log" >"$dir/radio.out" 2>&1 &
pids+=($!)
until_ok 5 grep -q '^/dev/' "$dir/radio.out" || fail "the radio simulator named no device"
device=$(head -n1 "$dir/radio.out")
# Wine rescans the ports at each start; its registry override is what lasts. COM20,
# as Windows names many a USB adapter: above the sixteen ports of old.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM20 /t REG_SZ /d "$device" /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
pids+=($!)
until_ok 15 grep -q . "$dir/display" || skip "Xvfb did not start"
export DISPLAY=":$(head -n1 "$dir/display")"

# --- the ports as Windows lists them (SERIALCOMM), --help in Windows terms; run
#     with the display, as a first Wine program without one leaves Wine without ---
"$wine" "$dir/app/ovrin-server.exe" --list-ports 2>&1 | tr -d '\r' >"$dir/ports.out"
check grep -Eq '^COM20 +\\Device\\Serial19 +can be opened$' "$dir/ports.out"
"$wine" "$dir/app/ovrin-server.exe" --help >"$dir/help.out" 2>&1
check grep -q 'Device Manager' "$dir/help.out"
check grep -q '%APPDATA%' "$dir/help.out"
check lacks '/dev/\|~/\.config' "$dir/help.out"

port=$((40000 + RANDOM % 9990)) rfc=$((50000 + RANDOM % 9990))
status_port=$((port + 1))
LD_PRELOAD=$shim OVRIN_MODEM_LOG="$dir/modem.log" "$wine" "$dir/app/ovrin-server.exe" --port "$port" \
  --com COM20 --status-port "$status_port" --rfc2217-port "$rfc" --tx-limit 2 >"$dir/server.log" 2>&1 &
server=$!
pids+=("$server")

# --- the window: caption, size, the Listen picture, captions in dark text ---
until_ok 30 found '^Ovrin-Server v1\.10\.01$' || fail "no window captioned Ovrin-Server v1.10.01"
until_ok 10 listening "$port" || fail "not listening on $port"
eval "$(xwininfo -id "$win" | awk '/Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
check [ "$w" -ge 334 ] && check [ "$h" -ge 376 ] && check [ "$h" -le 418 ]
top=$((h - 376)) left=$(((w - 334) / 2))  # Wine's own frame, without a window manager
picture="231x62+$((left + 96))+$((top + 7))"
until_ok 10 shows "$picture" amber 150 || fail "no Listen picture"
check shows "93x62+$((left + 4))+$((top + 7))" dark 150   # the title
check shows "93x97+$((left + 2))+$((top + 74))" dark 150  # Connection Status .. Rmt IP Adrs

# --- a client: its command answered by the radio, the picture on-line ---
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "no connection to $port"
printf 'FA;' >&3
answer=$(timeout 15 head -c 14 <&3)
check [ "$answer" = "FA00014074000;" ]
until_ok 15 shows "$picture" green 300 || fail "no On-line picture with a client connected"

# --- the status page: the same facts for a script, from the window program ---
status() { curl -s --max-time 5 "http://127.0.0.1:$status_port/status.json" >"$dir/status.json"; }
online() { status && grep -q '"state": "ON-LINE"' "$dir/status.json"; }
until_ok 10 online || fail "/status.json did not answer ON-LINE: $(cat "$dir/status.json")"
check grep -q '"address": "127.0.0.1"' "$dir/status.json"
check grep -q '"bytes_out": 14' "$dir/status.json"

# --- PTT: the question answered Yes; RTS refused by the pseudo-terminal, logged;
#     the check box red while keyed, its colour gone at the release ---
printf '\033\033ATH1' >&3
until_ok 10 found '^Enable Hardware Control$' || fail "no question about RTS control"
# No is the default (Return would refuse): Yes by its key.
xdotool key --window "$win" y 2>/dev/null; xdotool windowfocus "$win" key y
until_ok 15 logged 'PTT keyed: .* by RTS (in-band command)' || fail "PTT not keyed"
found '^Ovrin-Server v1\.10\.01$'
# The log line comes before the box is painted red: wait for the paint.
until_ok 15 shows "170x13+$((left + 21))+$((top + 178))" red 100 || fail "the PTT box did not turn red"
until_ok 5 rts 1 1 || fail "RTS did not rise for the in-band command"
printf '\033\033ATH0' >&3
until_ok 15 logged 'PTT released: .*released by RTS (in-band command)' || fail "PTT not released"
until_ok 5 rts 0 2 || fail "RTS did not fall at the in-band release"
exec 3>&-

# --- a remote serial port client (pyserial's rfc2217://), past the second in which
#     what it sets is taken as its opening: keyed, released, keyed again and
#     released at the 2 s limit; its CTS follows RTS through the shim's loopback ---
/usr/bin/python3 - "$rfc" <<'PY' || fail "the remote serial port client failed"
import sys, time
import serial
port = serial.serial_for_url(f"rfc2217://127.0.0.1:{sys.argv[1]}", timeout=5)
port.rts = False
time.sleep(1.5)
def expect(condition, why):
    end = time.monotonic() + 5
    while not condition():
        if time.monotonic() > end:
            sys.exit("FAIL: " + why)
        time.sleep(0.05)
for up in (True, False, True):
    port.rts = up
    expect(lambda: port.cts == up, f"CTS did not follow RTS {'up' if up else 'down'}")
expect(lambda: not port.cts, "CTS did not fall at the transmit limit")
port.close()
PY
check rts 0 6
check logged 'the transmit limit of 2 s was reached'

# --- Alt+F4 closes as the user would: the settings beside the program ---
xdotool windowfocus "$win" key alt+F4
until_ok 15 exited "$server" || fail "still running 15 s after Alt+F4"
wait "$server"
check [ $? = 0 ]
ini="$dir/app/Ovrin-Bridge.ini"
check [ "$(stat -c %s "$ini")" = 1033 ]
check [ "$(dd if="$ini" bs=1 skip=60 count=5 2>/dev/null)" = "$port" ]
check [ "$(dd if="$ini" bs=1 skip=76 count=1 2>/dev/null)" = 1 ]  # Control RTS as PTT
check [ "$(dd if="$ini" bs=1 skip=67 count=6 2>/dev/null | tr -d ' \0')" = COM20 ]

# --- a second program, with no transmit limit, on a line that takes 50 ms a byte
#     (the shim), so a close that does not wait for what was written cancels it:
#     a CAT key ended by going Off-line (the status picture clicked, Yes), then by
#     the program's end; the radio hears the release (RX;) before the port closes
#     each time. The end comes while a message box is open: the question takes its
#     safe answer, No ---
second_logged() { grep -q -- "$1" "$dir/second.log"; }
ptt() { [ "$(grep -c "PTT $1" "$dir/radio.log")" -ge "$2" ]; }
cat_key() {
  exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "no connection to the second program"
  printf 'TX;' >&3
  until_ok 10 ptt on "$1" || fail "TX; did not key the radio"
}
touch "$dir/slow"
LD_PRELOAD=$shim OVRIN_MODEM_LOG="$dir/modem2.log" OVRIN_SLOW_LINE="$dir/slow" \
  "$wine" "$dir/app/ovrin-server.exe" --config-dir 'C:\second' --port "$port" --com COM20 >"$dir/second.log" 2>&1 &
second=$!
pids+=("$second")
until_ok 30 found '^Ovrin-Server v1\.10\.01$' || fail "no second window"
until_ok 10 listening "$port" || fail "the second program is not listening on $port"
cat_key 1
xdotool mousemove --window "$win" $((left + 211)) $((top + 38)) click 1
until_ok 10 found '^Off-Line$' || fail "no question about going Off-line"
xdotool key --window "$win" y 2>/dev/null; xdotool windowfocus "$win" key y
until_ok 10 second_logged 'TX;) for .*: Off-line' || fail "Off-line did not release the key"
until_ok 10 second_logged 'Serial port COM20.* closed' || fail "Off-line did not close the port"
until_ok 5 ptt off 1 || fail "the radio did not hear the release before the port closed at Off-line"
exec 3>&-
found '^Ovrin-Server v1\.10\.01$'
xdotool mousemove --window "$win" $((left + 211)) $((top + 38)) click 1  # Listen again
until_ok 10 listening "$port" || fail "the second program is not listening again after Off-line"
cat_key 2
printf '\033\033ATH1' >&3
until_ok 10 found '^Enable Hardware Control$' || fail "no question in the second program"
# Without a window manager Wine draws no frame to click: Wine's taskkill sends the
# window the close that its close button sends.
"$wine" taskkill /im ovrin-server.exe >/dev/null 2>&1
until_ok 20 exited "$second" || fail "the window did not close while the box was open"
wait "$second"
check [ $? = 0 ]
exec 3>&-
check second_logged 'TX;) for .*: the program ended'
check until_ok 5 ptt off 2
check [ "$(dd if="$dir/prefix/drive_c/second/Ovrin-Bridge.ini" bs=1 skip=76 count=1 2>/dev/null)" = 0 ]
second_logged 'PTT keyed: .* by RTS' && fail "the question was answered Yes"
[ "$failed" = 0 ] && echo "the Windows program ran under Wine: answer, status page, PTT and RTS three ways, CTS seen remotely, window, settings, the CAT release before the close at Off-line and at the end, close with a box open"
exit $failed
