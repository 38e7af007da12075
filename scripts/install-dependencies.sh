#!/bin/sh
# Installs the Debian 12 packages that building, running and testing Zembrik Authorizer need.
# Needs root (or sudo) only when one of them is missing.
set -eu

packages="
    cmake ninja-build g++ pkg-config git
    juce-modules-source libcurl4-openssl-dev libfreetype-dev libx11-dev
    libgtest-dev nlohmann-json3-dev
    fonts-ipafont-gothic fonts-inter xdg-utils libglib2.0-bin desktop-file-utils
    xvfb xauth xdotool x11-utils python3-xlib imagemagick
    python3 openssl ca-certificates util-linux iproute2
"

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

# Run through sudo, the missing packages have been named already.
if [ "${1:-}" != "--named" ]; then
    echo "missing Debian packages:$missing"
fi

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo > /dev/null 2>&1; then
        echo "installing them takes root: asking sudo"
        sudo -- "$script" --named && exit 0
    fi
    echo "install them by running this as root: '$script'" >&2
    exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
quietly() # command... : apt's output is shown only when it fails
{
    "$@" > "$log" 2>&1 || { cat "$log" >&2; echo "installing the packages failed" >&2; exit 1; }
}
export DEBIAN_FRONTEND=noninteractive
echo "reading the package lists..."
quietly apt-get update

# The framework's recommended extras are not needed; libcurl comes in its OpenSSL flavour. Its
# package brings the GTK and WebKit development packages, hundreds in all: say so before the wait.
quietly apt-get install --simulate --no-install-recommends $missing
plan=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$log")
echo "installing $(apt-cache show --no-all-versions $plan 2> /dev/null \
                  | awk -v count="$(echo "$plan" | wc -l)" -v named="$(echo $missing | wc -w)" '
    function size(bytes) { return bytes < 1e6 ? sprintf ("%.0f kB", bytes / 1e3) : sprintf ("%.0f MB", bytes / 1e6) }
    /^Size:/ { download += $2 }
    /^Installed-Size:/ { disk += $2 * 1e3 }
    END {
        printf "%d package%s", count, count == 1 ? "" : "s"
        if (count > named) printf ", counting what they depend on"
        printf " (%s to download, %s on disk)", size(download), size(disk)
        if (count > 50) printf "; this takes a couple of minutes"
    }')..."
quietly apt-get install -y --no-install-recommends $missing
echo "done"
