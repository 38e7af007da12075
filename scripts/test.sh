#!/bin/sh
# Installs what the tests need, builds the product and its tests twice (a normal build and one
# with AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite in both, on a
# private X server. Here, unlike in a packager's build, warnings are errors.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-dependencies.sh"

jobs=$(nproc)

build() # name, extra cmake arguments...
{
    name=$1
    shift
    cmake -S "$here" -B "$here/build/$name" -G Ninja -DZEMBRIK_WERROR=ON "$@" > "$here/build/$name.configure.log" 2>&1 \
        || { cat "$here/build/$name.configure.log"; exit 1; }
    cmake --build "$here/build/$name" -j "$jobs"
}

mkdir -p "$here/build"
build tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
build sanitize -DCMAKE_BUILD_TYPE=Debug -DZEMBRIK_SANITIZE=ON

# A private X server on a display it picks itself; ended by its PID when the suite is done.
displayFile="$here/build/xvfb.display"
rm -f "$displayFile"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3> "$displayFile" > "$here/build/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT INT TERM
for _ in $(seq 1 100); do
    [ -s "$displayFile" ] && break
    sleep 0.1
done
[ -s "$displayFile" ] || { echo "the X server did not start:" >&2; cat "$here/build/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(cat "$displayFile")"

status=0
for name in tests sanitize; do
    echo "== $name build =="
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$here/build/$name" --output-on-failure -j "$jobs" --timeout 300 || status=1
done
exit $status
