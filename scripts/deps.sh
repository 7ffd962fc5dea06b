#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need (idempotent).
set -euo pipefail
packages=(
  build-essential cmake pkg-config python3
  libgtest-dev libgmock-dev
  libwxgtk3.2-dev libpng-dev zlib1g-dev
  libjpeg62-turbo-dev libpam0g-dev libx11-dev libxss-dev libxtst-dev libxcomposite-dev libglib2.0-dev
  libxcb1-dev libxcb-res0-dev libxcb-composite0-dev
  xvfb xauth
  libpam-wrapper dbus-daemon python3-dbusmock xcompmgr x11-xserver-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
