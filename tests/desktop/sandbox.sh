#!/usr/bin/env bash
# Runs one command on a private desktop: its own network namespace with only
# loopback up (so ports never clash between runs and nothing reaches the
# internet), its own mount namespace with a private /tmp/.X11-unix (parallel
# runs may all get display :0 and must not share its socket), its own Xvfb
# display, openbox as window manager, a session D-Bus, and a private HOME and
# XDG directories.
#
#   tests/desktop/sandbox.sh [--screen WxHxD] [--online] -- command [args...]
#
# --online adds a default route into loopback: the system then looks connected
# (GIO's network monitor says so), yet every packet stays on this machine and
# an address outside 127.0.0.0/8 is refused at once.
#
# Inside the command: DISPLAY, HOME, XDG_*_HOME, XDG_RUNTIME_DIR and
# DBUS_SESSION_BUS_ADDRESS point at the private desktop; SANDBOX_DIR is a
# scratch directory removed afterwards. The exit status is the command's.
set -euo pipefail

screen=1280x1024x24
online=()
while (($#)); do
  case $1 in
    --screen) screen=$2; shift 2 ;;
    --online) online=(--online); shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
(($#)) || { echo "usage: $0 [--screen WxHxD] [--online] -- command [args...]" >&2; exit 2; }

if [[ ${TELVORO_SANDBOX_INNER:-} != 1 ]]; then
  # A new network namespace needs root (or a user namespace that maps us to root).
  if [[ $(id -u) == 0 ]]; then
    exec env TELVORO_SANDBOX_INNER=1 unshare -n -m --propagation private -- "$0" --screen "$screen" "${online[@]}" -- "$@"
  else
    exec env TELVORO_SANDBOX_INNER=1 unshare -n -m -r --propagation private -- "$0" --screen "$screen" "${online[@]}" -- "$@"
  fi
fi

ip link set lo up
if ((${#online[@]})); then
  ip route add default dev lo
  ip -6 route add default dev lo 2>/dev/null || true
fi
mkdir -p /tmp/.X11-unix
mount -t tmpfs -o mode=1777 telvoro-x11 /tmp/.X11-unix

SANDBOX_DIR=$(mktemp -d "${TMPDIR:-/tmp}/telvoro-desktop.XXXXXX")
export SANDBOX_DIR
pids=()
cleanup() {
  local status=$?
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$SANDBOX_DIR"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

export HOME=$SANDBOX_DIR/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$SANDBOX_DIR/run
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# No accessibility bus on a throwaway desktop.
export NO_AT_BRIDGE=1 GTK_A11Y=none
unset WAYLAND_DISPLAY SESSION_MANAGER
export GDK_BACKEND=x11

# Xvfb picks a free display and tells us its number.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 "$screen" -nolisten tcp -noreset >"$SANDBOX_DIR/xvfb.log" 2>&1 &
pids+=($!)
display=""
# A busy machine may take a while.
# A read that times out keeps what it got so far: the number may come in pieces.
for _ in $(seq 300); do
  part=""
  if read -r -t 0.1 -u "$displayfd" part; then display+=$part; [[ -n $display ]] && break; continue; fi
  display+=$part
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$SANDBOX_DIR/xvfb.log" >&2; exit 1; }
done
[[ -n $display ]] || { echo "sandbox: Xvfb gave no display" >&2; cat "$SANDBOX_DIR/xvfb.log" >&2; exit 1; }
exec {displayfd}>&-
export DISPLAY=:$display

dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus

openbox --sm-disable >"$SANDBOX_DIR/openbox.log" 2>&1 &
pids+=($!)
# Ready once openbox has announced itself on the root window.
for _ in $(seq 100); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then break; fi
  sleep 0.05
done
for _ in $(seq 100); do
  [[ -S $XDG_RUNTIME_DIR/bus ]] && break
  sleep 0.05
done

set +e
"$@"
status=$?
set -e
exit "$status"
