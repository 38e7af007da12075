#!/bin/sh
# Builds Zembrik Authorizer (Release), installs it for the current user under ~/.local, makes it the
# handler of both redirect schemes, and starts it. Arguments are passed on (e.g. ZembrikMacTesh).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$HOME/.local"
binary="$prefix/bin/zembrik-authorizer"

# Say it before minutes of building: the application needs an X11 display. xdpyinfo comes with the
# dependencies, so a first run can only check that a display is named.
if [ -z "${DISPLAY:-}" ]; then
    echo "Zembrik Authorizer needs an X11 display (under Wayland, Xwayland's), and DISPLAY is not set." >&2
    exit 1
fi
if command -v xdpyinfo > /dev/null 2>&1 && ! xdpyinfo > /dev/null 2>&1; then
    echo "Zembrik Authorizer needs an X11 display, and the display '$DISPLAY' cannot be reached." >&2
    exit 1
fi

"$here/scripts/install-dependencies.sh"

cmake -S "$here" -B "$here/build/app" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEMBRIK_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
cmake --build "$here/build/app"
cmake --install "$here/build/app" --prefix "$prefix" > /dev/null

# The browser hands the redirect to whatever is registered for the scheme.
applications="$prefix/share/applications"
for scheme in at-zembrik-2-fennix at-zembrik-tesh; do
    xdg-mime default zembrik-authorizer.desktop "x-scheme-handler/$scheme"
done
if command -v update-desktop-database > /dev/null 2>&1 && [ -d "$applications" ]; then
    update-desktop-database "$applications" || true
fi

echo "installed: $binary, with its desktop entry in $applications"
echo "registered with the desktop as the handler of at-zembrik-2-fennix:// and at-zembrik-tesh:// links"
echo "to start it later: \"$binary\" (or zembrik-authorizer from your next login, once ~/.local/bin is on PATH)"
exec "$binary" "$@"
