#!/usr/bin/env bash
# Installs, only when missing, every Debian package that the build, the tests,
# the demo, the screenshots, the benchmarks, the fuzzers and the Debian
# package (built with CPack, checked with lintian) need. Idempotent.
set -euo pipefail

packages=(
  cmake ninja-build g++ make ccache
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  libsystemd-dev pkg-config libbenchmark-dev python3
  xvfb xauth x11-apps imagemagick fonts-dejavu-core openbox xdotool xclip
  clang libclang-rt-14-dev libfuzzer-14-dev
  dpkg-dev file lintian desktop-file-utils shared-mime-info xdg-utils man-db adduser
  qt6-httpserver-dev qt6-websockets-dev prometheus
  libyaml-cpp-dev libcrypt-dev libssl-dev openssl curl
  qt6-charts-dev libqt6opengl6-dev
  openssh-client openssh-server qtkeychain-qt6-dev libsecret-1-0
  gnome-keyring dbus-daemon dbus-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
