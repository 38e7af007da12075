#!/bin/sh
# Builds Zembrik Authorizer (Release), installs it for the current user under ~/.local, makes it the
# handler of both redirect schemes, and starts it. Arguments are passed on (e.g. ZembrikMacTesh).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$HOME/.local"

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

exec "$prefix/bin/zembrik-authorizer" "$@"
