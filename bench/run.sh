#!/bin/sh
# Builds an optimised tree and runs the benchmarks. Not part of the test suite.
#   bench/run.sh [account|replies|handoff|startup|sign-in]...   (all when none is named; sign-in as root)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/bench"
"$here/scripts/install-dependencies.sh"
mkdir -p "$build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release > "$build/configure.log" 2>&1 \
    || { cat "$build/configure.log"; exit 1; }
cmake --build "$build"

setting() # name: its value in the build's configuration
{
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}

benchmarks=${*:-account replies handoff startup sign-in}
for benchmark in $benchmarks; do
    echo "== $benchmark"
    case $benchmark in
        account) "$build/bench/account_exchange_bench" 200 ;;
        replies) "$build/bench/reply_json_bench" 20 ;;
        handoff) "$build/bench/bench_instance_handoff" 200 ;;
        startup) /usr/bin/python3 "$here/bench/startup.py" --build-dir "$build" --rounds 30 ;;
        sign-in)
            cmake --install "$build" --prefix "$build/bench-prefix" > /dev/null
            status=0
            /usr/bin/python3 "$here/bench/sign_in.py" --prefix "$build/bench-prefix" \
                --account-host "$(setting ZEMBRIK_ACCOUNT_HOST)" --support-host "$(setting ZEMBRIK_SUPPORT_HOST)" \
                --exchange-bench "$build/bench/account_exchange_bench" --rounds 20 || status=$?
            [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || exit "$status" ;;   # 77: skipped, and it said why
        *) echo "unknown benchmark: $benchmark" >&2; exit 2 ;;
    esac
done
