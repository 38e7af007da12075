#!/bin/sh
# Installs the Debian packages that building, running and testing Zembrik Authorizer need.
# Run as root (or through sudo) on Debian 12.
set -eu

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi

packages="
    cmake ninja-build g++ pkg-config git
    juce-modules-source libcurl4-openssl-dev libfreetype-dev libx11-dev
    libgtest-dev
    fonts-ipafont-gothic fonts-inter xdg-utils libglib2.0-bin desktop-file-utils
    xvfb xauth xdotool x11-utils python3-xlib imagemagick
    python3 openssl ca-certificates util-linux iproute2
"

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done

if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # The framework's recommended extras are not needed; libcurl comes in its OpenSSL flavour.
    apt-get install -y -qq --no-install-recommends $missing
fi
