#!/usr/bin/env bash
# The start-up sequence and the F10/F11 hotkeys of the real program, on the
# private desktop of tests/desktop/sandbox.sh, with the notice page served
# from loopback.
#
#   sandbox.sh -- startup_hotkeys.sh SCENARIO TELVORO X_HELPER ARTIFACTS_DIR
#
# Scenarios:
#   online    caption with the count, always on top, F10 and F11 (Num Lock and
#             Caps Lock on, another window focused, MainWindow hidden)
#   f10-held  F10 held by another client: F11 still works, F10 does nothing
#   update    a newer title: Yes opens the download link, then the program ends
#   offline   no route out: the "无网络：" box, then exit code 0
set -euo pipefail

scenario=$1 telvoro=$2 x_helper=$3 artifacts=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mkdir -p "$artifacts"
work=${SANDBOX_DIR:?run me inside tests/desktop/sandbox.sh}
python=/usr/bin/python3
[[ -x $python ]] || python=python3
notice_port=47803
link=http://127.0.0.1:$notice_port/telvoro-4.1.1.9.tar.gz

step() { echo "== $*"; }
shot() { import -window root "$artifacts/$scenario-$1.png" 2>/dev/null || true; }
fail() {
  echo "FAIL ($scenario): $*" >&2
  shot failure
  echo "--- telvoro log" >&2
  cat "$work/telvoro.log" >&2 2>/dev/null || true
  exit 1
}
# until SECONDS COMMAND...: true once the command succeeds, false when the time is up.
until_ok() {
  local end=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# --- the network: a route out for GIO's monitor, with nothing out there -----
online_network() {
  # sandbox.sh --online may have made one already.
  [[ -z $(ip route show default) ]] || return 0
  # A dummy link where the kernel has them, else a pair whose far end stays here.
  if ! ip link add d0 type dummy 2>/dev/null; then
    ip link add d0 type veth peer name d1
    ip link set d1 up
  fi
  ip addr add 192.0.2.2/24 dev d0
  ip link set d0 up
  ip route add default via 192.0.2.1
}

start_notice_server() {
  "$python" "$here/notice_server.py" --port "$notice_port" --page "$root/shell/notice/notice.html" \
    --log "$work/requests.log" --lifetime 240 "$@" >"$work/server.out" 2>&1 &
  pids+=($!)
  until_ok 10 grep -q ready "$work/server.out" || fail "notice server did not start"
}

start_telvoro() {
  "$telvoro" >"$work/telvoro.log" 2>&1 &
  telvoro_pid=$!
  pids+=("$telvoro_pid")
}

# The first window whose name matches, visible or not.
window_named() { xdotool search --name "$1" 2>/dev/null | head -n1; }
wait_window() {
  local id=""
  local end=$((SECONDS + ${2:-30}))
  while [[ -z $id ]]; do
    ((SECONDS < end)) || return 1
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
    [[ -n $id ]] || sleep 0.1
  done
  echo "$id"
}

# Waits for telvoro to end and puts its exit status into $status (fails when
# it is still running at the end of the time).
wait_exit() {
  local end=$((SECONDS + $1))
  # Ended: gone, or a zombie waiting for us.
  while [[ $(ps -o stat= -p "$telvoro_pid" 2>/dev/null) =~ ^[^Z] ]]; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
  status=0
  wait "$telvoro_pid" || status=$?
}

# --- what the window looks like from outside ---------------------------------
extents() { xprop -id "$win" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ' '; }
# Outer rectangle x,y,w,h: the client's place and size with the frame around it.
outer() {
  local info x y w h l r t b
  info=$(xwininfo -id "$win")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  IFS=, read -r l r t b <<<"$(extents)"
  echo "$((x - l)),$((y - t)),$((w + l + r)),$((h + t + b))"
}
frameless() { [[ $(extents) == 0,0,0,0 ]]; }
framed() { [[ $(extents) == "$framed_extents" ]]; }
mapped() { xwininfo -id "$win" | grep -q 'Map State: IsViewable'; }
above() { xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
active_is() { [[ $(xdotool getactivewindow 2>/dev/null) == "$1" ]]; }

# The address bar as a picture: its label at the left end and its button at
# the right end (the address box between them changes with the focus).
bar_strip() {
  local width
  width=$(xwininfo -id "$win" | sed -n 's/.*Width: *//p')
  import -window "$win" -crop "${width}x40+0+0" +repage "$work/strip.png" 2>/dev/null
  convert "$work/strip.png" \( -clone 0 -crop "68x40+0+0" +repage \) \
    \( -clone 0 -crop "88x40+$((width - 88))+0" +repage \) -delete 0 +append "$1"
}
# Pixels that differ between two bar pictures.
strip_difference() {
  local d
  d=$(compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1 | cut -d' ' -f1) || true
  echo "$(basename "$1") $d" >>"$artifacts/$scenario-bar-differences.txt"
  echo "$d"
}
bar_like() {
  bar_strip "$work/now.png"
  local d
  d=$(strip_difference "$1" "$work/now.png")
  ((${d%.*} < 40))
}
bar_unlike() {
  bar_strip "$work/now.png"
  local d
  d=$(strip_difference "$1" "$work/now.png")
  ((${d%.*} > 400))
}

press() { xdotool key "$@"; }

# F10 twice: frame off then on, the outer rectangle kept, on top and active kept.
check_f10() {
  local what=$1 active=$2
  press F10
  until_ok 5 frameless || fail "F10 ($what) left the frame: $(extents)"
  until_ok 3 test "$(outer)" == "$outer0" || fail "F10 ($what) moved the window: $(outer), was $outer0"
  above || fail "F10 ($what) lost always on top"
  active_is "$active" || fail "F10 ($what) changed the active window"
  shot "f10-$what-frameless"
  press F10
  until_ok 5 framed || fail "second F10 ($what) gave no frame: $(extents)"
  until_ok 3 test "$(outer)" == "$outer0" || fail "second F10 ($what) moved the window: $(outer), was $outer0"
  above || fail "second F10 ($what) lost always on top"
  active_is "$active" || fail "second F10 ($what) changed the active window"
}

# F11 twice: bar hidden, then shown as before.
check_f11() {
  local what=$1
  press F11
  until_ok 5 bar_unlike "$work/bar-shown.png" || fail "F11 ($what) did not hide the bar"
  shot "f11-$what-hidden"
  press F11
  until_ok 5 bar_like "$work/bar-shown.png" || fail "second F11 ($what) did not show the bar"
}

# --- the scenarios -------------------------------------------------------------
main_window_up() {
  win=$(wait_window '^Telvoro 使用人数' 60) || fail "no captioned MainWindow"
  until_ok 10 mapped || fail "MainWindow not mapped"
  # Registration is the sequence's last step: give the loop a moment after it.
  sleep 0.5
}

case $scenario in
  online)
    online_network
    start_notice_server
    start_telvoro
    main_window_up
    shot started
    step "caption, always on top, the notice page's reads"
    [[ $(xdotool getwindowname "$win") == "Telvoro 使用人数1024" ]] ||
      fail "caption is '$(xdotool getwindowname "$win")'"
    above || fail "no _NET_WM_STATE_ABOVE: $(xprop -id "$win" _NET_WM_STATE)"
    reads=$(grep -c 'UA=Telvoro/' "$work/requests.log" || true)
    [[ $reads == 2 ]] || fail "expected 2 reads of the notice page, got $reads: $(cat "$work/requests.log")"
    until_ok 20 grep -v 'UA=Telvoro/' "$work/requests.log" >/dev/null ||
      fail "the hidden browser never visited the notice page"
    xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
    until_ok 5 active_is "$win" || fail "MainWindow is not active"
    framed_extents=$(extents)
    [[ $framed_extents != 0,0,0,0 && -n $framed_extents ]] || fail "no frame at start: '$framed_extents'"
    outer0=$(outer)
    bar_strip "$work/bar-shown.png"
    cp "$work/bar-shown.png" "$artifacts/$scenario-bar-shown.png"

    step "F10 and F11"
    check_f10 plain "$win"
    check_f11 plain

    step "F10 and F11 with Num Lock, Caps Lock, both"
    for locks in num caps both; do
      "$x_helper" locks "$locks" >/dev/null || fail "could not lock $locks"
      check_f10 "locks-$locks" "$win"
      check_f11 "locks-$locks"
    done
    "$x_helper" locks none >/dev/null

    step "F10 and F11 while another window has the focus"
    xmessage -geometry 300x80+20+20 -title other-window "another program" &
    pids+=($!)
    other=$(wait_window '^other-window$' 10) || fail "no other window"
    xdotool windowactivate --sync "$other" >/dev/null 2>&1 || true
    until_ok 5 active_is "$other" || fail "the other window did not get the focus"
    check_f10 other-focused "$other"
    check_f11 other-focused
    kill "${pids[-1]}" 2>/dev/null || true

    step "F10 and F11 while MainWindow is hidden"
    xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
    # The frameless look of the bar, for the comparison after the window is back.
    press F10
    until_ok 5 frameless || fail "F10 left the frame"
    sleep 0.3
    bar_strip "$work/bar-shown-frameless.png"
    press F10
    until_ok 5 framed || fail "F10 gave no frame"
    # An empty address box: Enter brings up the tutorial window and hides MainWindow.
    xdotool mousemove --window "$win" 300 22 click 1
    press Return
    tutorial=$(wait_window '^图文教程$' 20) || fail "no tutorial window"
    until_ok 5 bash -c "! xwininfo -id $win | grep -q IsViewable" || fail "MainWindow still shown"
    press F10
    press F11
    press F11
    sleep 1
    shot hidden-main-window
    xdotool windowactivate --sync "$tutorial" >/dev/null 2>&1 || true
    # "我 知 道 了" closes the tutorial window.
    xdotool mousemove --window "$tutorial" 80 315 click 1
    until_ok 10 mapped || fail "MainWindow did not come back"
    sleep 0.5
    shot back-from-tutorial
    frameless || fail "MainWindow came back with a frame: $(extents)"
    [[ $(outer) == "$outer0" ]] || fail "MainWindow came back at $(outer), was $outer0"
    until_ok 5 bar_like "$work/bar-shown-frameless.png" || fail "the bar is not shown after F11 while hidden"
    press F10
    until_ok 5 framed || fail "F10 after the tutorial gave no frame"
    [[ $(outer) == "$outer0" ]] || fail "F10 after the tutorial moved the window: $(outer), was $outer0"
    kill -0 "$telvoro_pid" || fail "telvoro ended"
    ;;

  f10-held)
    online_network
    start_notice_server
    "$x_helper" grab F10 all 120 >"$work/other.out" &
    pids+=($!)
    until_ok 10 grep -q grabbed "$work/other.out" || fail "the other client could not grab F10"
    start_telvoro
    main_window_up
    xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
    framed_extents=$(extents)
    outer0=$(outer)
    bar_strip "$work/bar-shown.png"
    step "F10 belongs to the other client"
    press F10
    until_ok 5 grep -q pressed "$work/other.out" || fail "the other client did not get F10"
    sleep 1
    framed || fail "F10 took the frame although another client holds it"
    step "F11 works"
    check_f11 f10-held
    shot f10-held
    ;;

  update)
    online_network
    start_notice_server --title 4119 --link "$link"
    # The desktop's default handler of web addresses: a recorder.
    cat >"$work/record-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
EOF
    chmod +x "$work/record-open"
    mkdir -p "$XDG_DATA_HOME/applications"
    cat >"$XDG_DATA_HOME/applications/telvoro-test-recorder.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Recorder
Exec=$work/record-open %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;
NoDisplay=true
EOF
    cat >"$XDG_CONFIG_HOME/mimeapps.list" <<EOF
[Default Applications]
x-scheme-handler/http=telvoro-test-recorder.desktop
x-scheme-handler/https=telvoro-test-recorder.desktop
EOF
    start_telvoro
    box=$(wait_window '^Kessan提示：$' 60) || fail "no update box"
    sleep 0.5
    shot update-box
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
    press Return
    wait_exit 30 || fail "telvoro still runs after Yes"
    [[ $status == 0 ]] || fail "exit status $status"
    until_ok 10 test -s "$work/opened" || fail "nothing was opened"
    [[ $(cat "$work/opened") == "$link" ]] || fail "opened '$(cat "$work/opened")'"
    reads=$(grep -c 'UA=Telvoro/' "$work/requests.log" || true)
    [[ $reads == 3 ]] || fail "expected 3 reads of the notice page, got $reads"
    ;;

  offline)
    start_notice_server
    start_telvoro
    box=$(wait_window '^无网络：$' 60) || fail "no 无网络： box"
    sleep 0.5
    shot offline-box
    [[ -z $(window_named '^Telvoro 使用人数') ]] || fail "the caption changed while offline"
    xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
    press Return
    wait_exit 20 || fail "telvoro still runs after OK"
    [[ $status == 0 ]] || fail "exit status $status"
    [[ ! -s $work/requests.log ]] || fail "the notice page was read while offline: $(cat "$work/requests.log")"
    ;;

  *)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
echo "PASS ($scenario)"
