#!/usr/bin/env bash
# Installs every Debian package the project needs. Quick when all are present.
set -euo pipefail

packages=(
    build-essential cmake pkg-config clang-format
    qtbase5-dev libqt5svg5-dev
    liblua5.3-dev
    libpoppler-qt5-dev poppler-utils
    libkf5dnssd-dev avahi-daemon avahi-utils dbus iproute2
    libhidapi-dev libqt5serialport5-dev socat
    liblo-dev liblo-tools
    qtmultimedia5-dev libqt5multimedia5-plugins gstreamer1.0-plugins-base
    gstreamer1.0-plugins-good gstreamer1.0-pulseaudio libmp3lame-dev libmp3lame0 lame sox
    pulseaudio pulseaudio-utils
    fonts-font-awesome fonts-dseg
    xvfb xauth xdotool fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
