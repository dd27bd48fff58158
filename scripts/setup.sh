#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Telvoro.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git
  libgtk-3-dev libwebkit2gtk-4.1-dev libcurl4-openssl-dev libssl-dev libre2-dev libx11-dev
  libgtest-dev libgmock-dev
  fonts-wqy-zenhei bubblewrap xdg-dbus-proxy
  nodejs npm
  # tests and benchmarks
  xvfb openbox xdotool x11-utils imagemagick curl openssl python3 iproute2 hyperfine dbus-daemon
)
missing=()
for p in "${packages[@]}"; do
  # npm may come with Node.js from elsewhere; take Debian's only when there is none.
  if [[ $p == npm || $p == nodejs ]] && command -v "${p/nodejs/node}" >/dev/null; then continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [[ $(id -u) == 0 ]] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Ruffle, the Flash player of the browser controls, from the npm registry.
if [[ -f package-lock.json ]]; then
  if [[ ! -f node_modules/.package-lock.json ]] || ! cmp -s package-lock.json node_modules/.telvoro-lock; then
    npm ci --no-audit --no-fund --loglevel=error
    cp package-lock.json node_modules/.telvoro-lock
  fi
fi
