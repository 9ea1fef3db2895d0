#!/usr/bin/env bash
# The built program in a private Xvfb, seen and used from outside as a person
# would: its window found by its caption, photographed, clicked (a list, a check
# box) and typed into, and the settings it saves read afterwards. Exits 77
# (skipped) only when Xvfb cannot start here.
#   window_test.sh <ovrin-server> <ovrin-radio-sim> <close_window> <watch_maps>
# shellcheck disable=SC2317  # functions called from the trap and through until_ok
set -uo pipefail
server=$1 radio=$2 closer=$3 watcher=$4
caption='Ovrin-Server v1.10.01'
dir=$(mktemp -d "${TMPDIR:-/tmp}/ovrin-window-XXXXXX")
pids=()
failed=0 win='' list='' calm=0 shots=0 last=''
none_left() { [ -z "$(jobs -rp)" ]; }
cleanup() {
  kill "${pids[@]}" 2>/dev/null
  until_ok 3 none_left || jobs -rp | xargs -r kill -KILL 2>/dev/null
  wait 2>/dev/null
  if [ "$failed" = 0 ]; then rm -rf "$dir"; else echo "screenshots and logs are kept in $dir"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAIL: $*" >&2; failed=1; exit 1; }
check() { "$@" || { echo "FAIL: $*" >&2; failed=1; }; }
# until SECONDS COMMAND...: polls the command until it succeeds or time is up.
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.1; done
}

for tool in xdotool xwininfo import convert; do
  command -v $tool >/dev/null || fail "$tool is not installed (scripts/deps.sh installs the X tools)"
done
# --- a private X server; it picks a free display itself ---
command -v Xvfb >/dev/null || { echo "SKIPPED: the window is not checked: Xvfb is not installed"; exit 77; }
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
pids+=($!)
if ! until_ok 15 grep -q . "$dir/display" || ! kill -0 "${pids[0]}" 2>/dev/null; then
  echo "SKIPPED: the window is not checked: Xvfb did not start: $(tail -c 600 "$dir/xvfb.log")"
  exit 77
fi
DISPLAY=":$(head -n1 "$dir/display")"
export DISPLAY
unset WAYLAND_DISPLAY

# --- looking at the screen and the network ---
listening() {  # is anything listening on TCP port $1?
  awk -v p="$(printf ':%04X' "$1")" '$4 == "0A" && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' \
    /proc/net/tcp /proc/net/tcp6
}
shot() { shots=$((shots + 1)); last="$dir/shot-$shots.png"; import -window "$win" "png:$last"; }
# count AREA COLOUR: pixels of the last screenshot in WxH+X+Y that have the colour.
count() {
  local fx
  case $2 in
    amber) fx='r>0.7 && g>0.43 && g<0.78 && b<0.27' ;;
    green) fx='g>0.55 && r<0.4 && b<0.4' ;;
    red) fx='r>0.59 && g<0.27 && b<0.27' ;;
    dark) fx='0.299*r + 0.587*g + 0.114*b < 0.39' ;;
  esac
  convert "$last" -crop "$1" +repage -fx "$fx" -format '%[fx:round(mean*w*h)]' info:
}
picture=231x62+96+7
shows() { shot && [ "$(count "$picture" "$1")" -ge "$2" ]; }
listen_only() {  # five screenshots in a row of the Listen picture alone
  if shows amber 150 && [ "$(count "$picture" green)" = 0 ]; then calm=$((calm + 1)); else calm=0; fi
  [ "$calm" -ge 5 ]
}
not() { ! "$@"; }
not_listening() { ! listening "$1"; }
exited() {  # gone, or a zombie waiting to be reaped
  local state
  state=$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)
  [ -z "$state" ] || [ "$state" = Z ]
}
found_window() { win=$(xdotool search --onlyvisible --name '^Ovrin-Server v1\.10\.01$'); [ -n "$win" ]; }
list_open() { list=$(xdotool search --onlyvisible --class '^ovrin-server$' | grep -vx "$win" | head -n1); [ -n "$list" ]; }
box_open() { box=$(xdotool search --onlyvisible --name '^Enable Hardware Control$'); [ -n "$box" ]; }
invalid_open() { box=$(xdotool search --onlyvisible --name '^Invalid Option$'); [ -n "$box" ]; }
# field X Y TEXT: the text typed over what the field at X, Y holds.
field() { xdotool mousemove --sync --window "$win" "$1" "$2" click 1 key ctrl+a type --delay 40 "$3"; }
# taken PORT BYTES: the program's end of the connection on PORT has received BYTES
# from the client and left none of them unread in the kernel.
taken() {
  ss -tniH state established "( sport = :$1 )" |
    awk -v n="$2" 'NR % 2 { unread = $1 } !(NR % 2) && unread == 0 && / bytes_received:/ {
                     sub(/.* bytes_received:/, ""); if ($1 == n) f = 1 } END { exit !f }'
}
# pick ROW of the Connection Status list: open it with a click on its arrow, click the entry.
pick() {
  local x y w h
  xdotool mousemove --sync --window "$win" 189 80 click 1
  until_ok 15 list_open || fail "the Connection Status list did not open"
  eval "$(xwininfo -id "$list" | awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4}
                                       /Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
  xdotool mousemove --sync $((x + w / 2)) $((y + h * (2 * $1 + 1) / 6)) click 1
}

# --- the program in a folder of its own: COM1 is the radio simulator, the settings
#     file names a port that is not the default, so it must have been read ---
mkdir -m 700 "$dir/runtime"
cp "$server" "$dir/ovrin-server" || fail "no program at $server"
"$radio" --link "$dir/dosdevices/com1" >"$dir/radio.log" 2>&1 &
pids+=($!)
until_ok 15 test -L "$dir/dosdevices/com1" || fail "the radio simulator made no COM1"
port=$((40000 + RANDOM % 9990))
while listening "$port"; do port=$((port + 1)); done
settings() {  # settings PORT: listening on PORT, the port kept open, RTS control off
  { printf '%-20s%-20s%-7s%-6s%-1s%-5s%-1s%-5s' '' '' '100 mS' 9600 8 None 1 "$1"
    printf '\001\000%-6s00100' COM1
    head -c 955 /dev/zero; } >"$dir/Ovrin-Bridge.ini"
}
start() {  # start LOG
  (cd "$dir" && QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$dir/runtime" exec ./ovrin-server >"$dir/$1" 2>&1) &
  pids+=($!)
  server_pid=${pids[-1]}
}
settings "$port"
start server.log

until_ok 20 found_window || fail "no window captioned \"$caption\" within 20 s"
[ "$(wc -w <<<"$win")" = 1 ] || fail "more than one window captioned \"$caption\""
size=$(xwininfo -id "$win" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
check [ "$size" = 334x376 ]
until_ok 10 listening "$port" || fail "not listening on $port"

# Listening: the amber picture, and the captions in dark text beside their boxes.
until_ok 15 shows amber 150 || fail "no Listen picture"
check [ "$(count $picture green)" -le 5 ]
check [ "$(count 93x62+4+7 dark)" -ge 150 ]    # the title
check [ "$(count 93x97+2+74 dark)" -ge 150 ]   # Connection Status .. Rmt IP Adrs
check [ "$(count 64x97+198+74 dark)" -ge 150 ]  # Com Port .. # Stop
check [ "$(count 93x105+2+222 dark)" -ge 150 ]  # Clients .. Allow

# A client turns the picture green; its leaving, back to Listen alone.
exec 3<>"/dev/tcp/127.0.0.1/$port" || fail "no connection to $port"
until_ok 15 shows green 300 || fail "no On-line picture with a client connected"
exec 3>&-
until_ok 30 listen_only || fail "the picture did not return to Listen after the client left"

# Off-line, another last digit typed into the port box, Listen: listening there.
xdotool windowfocus --sync "$win"
pick 0
until_ok 15 shows red 150 || fail "no Off-line picture after choosing Off-line"
until_ok 15 not_listening "$port" || fail "still listening on $port after Off-line"
# The picture is drawn by the X server: it is there again when the window is mapped
# again, and a click on it reaches the program (Off-line: Listen).
xdotool windowunmap --sync "$win" windowmap --sync "$win" windowfocus --sync "$win"
until_ok 15 shows red 150 || fail "no Off-line picture after the window was mapped again"
xdotool mousemove --sync --window "$win" 200 38 click 1
until_ok 15 listening "$port" || fail "a click on the Off-line picture did not choose Listen"
until_ok 15 shows amber 150 || fail "no Listen picture after a click on the picture"
# Connection Status is a list to pick from: a click on its text opens the list, and
# a key typed into the box changes neither what it shows nor the state. (The
# list opened from the keyboard after the key shows that the key was handled.)
xdotool mousemove --sync --window "$win" 130 80 click 1
until_ok 15 list_open || fail "a click on the Connection Status text did not open its list"
xdotool key Escape
until_ok 15 not list_open || fail "Escape did not close the Connection Status list"
shot && convert "$last" -crop 102x21+96+70 +repage "$dir/status-before.png"
xdotool type --delay 40 5
xdotool key alt+Down
until_ok 15 list_open || fail "Alt+Down did not open the Connection Status list after the typed key"
xdotool key Escape
until_ok 15 not list_open || fail "Escape did not close the Connection Status list"
shot && convert "$last" -crop 102x21+96+70 +repage "$dir/status-after.png"
differ=$(compare -metric AE "$dir/status-before.png" "$dir/status-after.png" null: 2>&1)
check [ "$differ" = 0 ]  # pixels of the box that a typed key changed
check listening "$port"
pick 0
until_ok 15 not_listening "$port" || fail "still listening on $port after Off-line again"
# A click on "Control RTS as PTT" while Off-line: the box and its rule (RTS and the
# kept-open port unchecked) show in the settings saved at the end.
xdotool mousemove --sync --window "$win" 28 184 click 1
for d in 0 1 2 3 4 5 6 7 8 9; do
  new=$((port - port % 10 + d))
  [ "$new" != "$port" ] && ! listening "$new" && break
done
xdotool mousemove --sync --window "$win" 121 143 click 1 key --delay 40 End BackSpace type --delay 40 "$d"
# An answer wait of 5 ms cannot be taken: Listen says so and stays Off-line.
field 121 253 5
pick 1
until_ok 15 invalid_open || fail "no box for an answer wait of 5 ms"
xdotool windowfocus --sync "$box" key Return
check not listening "$new"
field 121 253 400
field 212 316 127.0.0.1
pick 1
until_ok 15 listening "$new" || fail "not listening on the typed port $new"
until_ok 15 shows amber 150 || fail "no Listen picture after choosing Listen"
# Listening, the options are locked: typing changes nothing.
field 121 253 900

# Closed from outside as at logout: the settings, with the typed port, are saved.
kill -TERM "$server_pid"
until_ok 10 exited "$server_pid" || fail "still running 10 s after SIGTERM"
wait "$server_pid"
check [ $? = 0 ]
check [ "$(stat -c %s "$dir/Ovrin-Bridge.ini")" = 1033 ]
check [ "$(dd if="$dir/Ovrin-Bridge.ini" bs=1 skip=60 count=5 2>/dev/null)" = "$new" ]
check [ "$(dd if="$dir/Ovrin-Bridge.ini" bs=1 skip=73 count=4 2>/dev/null)" = 0001 ]  # DTR RTS kept-open PTT
check grep -qx 'answer-wait = 400' "$dir/Ovrin-Server.conf"
check grep -qx 'allow = 127.0.0.1' "$dir/Ovrin-Server.conf"

# A message box open (a client's PTT command asks whether it may key): the rest of
# the window takes no input, yet the window's close button closes the program, the
# question taking its safe answer. (A modal box made the toolkit drop that close,
# also in the 100 ms a box answered by its shortcut key still shows.)
# ask LOG: the program started again, a client on fd 3 whose PTT command asks.
ask() {
  start "$1"
  until_ok 20 found_window || fail "no window ($1)"
  until_ok 10 listening "$new" || fail "not listening on $new ($1)"
  exec 3<>"/dev/tcp/127.0.0.1/$new" || fail "no connection to $new ($1)"
  printf '\033\033ATH1' >&3
  until_ok 10 box_open || fail "no question for a PTT command ($1)"
}
settings "$new"
ask server-2.log
xdotool windowmove --sync "$box" 0 260  # no window manager places it: off the window
# Every window shown from the click until the program has ended is told: the list
# held off is checked once the program has handled the click and all after it.
"$watcher" "$win" >"$dir/maps" 2>&1 &
pids+=($!)
maps_pid=$!
until_ok 10 grep -qx ready "$dir/maps" || fail "watch_maps did not start: $(cat "$dir/maps")"
xdotool mousemove --sync --window "$win" 189 80 click 1  # the Connection Status list: held off
"$closer" "$win" || fail "close_window could not reach the window"
until_ok 10 exited "$server_pid" || fail "the close button did not close the window while a box was open"
wait "$server_pid"
check [ $? = 0 ]
exec 3>&-
until_ok 10 exited "$maps_pid" || fail "watch_maps did not see the window go"
check not grep -q mapped "$dir/maps"
check [ "$(dd if="$dir/Ovrin-Bridge.ini" bs=1 skip=73 count=4 2>/dev/null)" = 0010 ]  # as it was
check not grep -q "PTT keyed" "$dir/server-2.log"
# What a client sends while the question is open waits, and goes to the radio once
# it is answered (No, with its shortcut): the answer comes back.
ask server-3.log
printf 'FA;' >&3
# Answered only once the program has read FA; (after the 6 bytes of ATH1) while the
# question is open.
until_ok 10 taken "$new" 9 || fail "FA; was not read while the question was open: $(ss -tniH "( sport = :$new )")"
xdotool windowfocus --sync "$box" key n
check [ "$(timeout 10 head -c 14 <&3)" = "FA00014074000;" ]
exec 3>&-
kill -TERM "$server_pid"
until_ok 10 exited "$server_pid" || fail "still running 10 s after SIGTERM at the third start"
[ "$failed" = 0 ] && echo "the window was seen and used on display $DISPLAY"
exit $failed
