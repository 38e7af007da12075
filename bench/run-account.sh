#!/bin/sh
# Builds and runs the account exchange benchmark (optimised build) against the local test server.
# Usage: bench/run-account.sh [rounds]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/bench"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > "$build.configure.log" 2>&1 \
    || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target account_exchange_bench
"$build/bench/account_exchange_bench" "${1:-200}"
