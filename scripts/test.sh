#!/bin/sh
# Installs what the tests need, builds the product and its tests twice (a normal build and one
# with AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite in both, on a
# private X server. Here, unlike in a packager's build, warnings are errors. It ends with a summary
# of both runs: the failed tests, and why each skipped one was skipped.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-dependencies.sh"

jobs=$(nproc)

# The last lines on the screen are the verdict, so that they agree with the exit status.
finish() # status, summary lines...
{
    status=$1
    shift
    echo
    echo "== summary =="
    printf '%s\n' "$@"
    if [ "$status" -eq 0 ]; then echo "PASSED"; else echo "FAILED"; fi
    exit "$status"
}

build() # name, extra cmake arguments...
{
    name=$1
    shift
    echo "== building $name =="
    if ! cmake -S "$here" -B "$here/build/$name" -G Ninja -DZEMBRIK_WERROR=ON "$@" > "$here/build/$name.configure.log" 2>&1; then
        cat "$here/build/$name.configure.log"
        finish 1 "$name build: the configuration failed (its log is above)"
    fi
    cmake --build "$here/build/$name" -j "$jobs" || finish 1 "$name build: did not build (the errors are above)"
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
[ -s "$displayFile" ] || { cat "$here/build/xvfb.log"; finish 1 "the X server did not start (its log is above)"; }
export DISPLAY=":$(cat "$displayFile")"

status=0
for name in tests sanitize; do
    echo "== testing $name =="
    rm -f "$here/build/$name.results.xml"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$here/build/$name" --output-on-failure -j "$jobs" --timeout 300 \
              --output-junit "$here/build/$name.results.xml" || status=1
done

# CTest's JUnit report marks both real skips and tests it could not start as "notrun"; only the
# first are skips. A skip's reason is the line a GoogleTest skip prints after "Skipped", or the
# "skipped: …" line of an end-to-end test.
summary=$(python3 - "$here/build" tests sanitize <<'EOF'
import os, sys
import xml.etree.ElementTree as ElementTree

def reason(case, skip):
    lines = (case.findtext("system-out") or "").splitlines()
    for index, line in enumerate(lines):
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
        if line.endswith(": Skipped") and index + 1 < len(lines) and lines[index + 1].strip():
            return lines[index + 1].strip()
    return skip.get("message") or "no reason given"

folder, previous, status = sys.argv[1], None, 0
for name in sys.argv[2:]:
    try:
        cases = ElementTree.parse(os.path.join(folder, name + ".results.xml")).getroot().iter("testcase")
    except (OSError, ElementTree.ParseError):
        print(f"{name} build: no results (the run did not finish)")
        status = 1
        continue
    passed, failed, skipped = [], [], {}
    for case in cases:
        test, state, skip = case.get("name"), case.get("status"), case.find("skipped")
        if state == "run":
            passed.append(test)
        elif state == "disabled":
            skipped[test] = "disabled"
        elif state == "notrun" and skip is not None and skip.get("message", "").startswith("SKIP_"):
            skipped[test] = reason(case, skip)
        else:
            failure = skip if skip is not None else case.find("failure")
            message = failure.get("message") if failure is not None else ""
            failed.append(f"{test} ({message})" if message else test)
    print(f"{name} build: {len(passed)} passed, {len(failed)} failed, {len(skipped)} skipped")
    for test in failed:
        print(f"  failed: {test}")
    if skipped and previous and skipped == previous[1]:
        print(f"  skipped: the same as in the {previous[0]} build")
    else:
        for why in sorted(set(skipped.values())):
            print(f"  skipped, {why}:")
            for test in sorted(test for test in skipped if skipped[test] == why):
                print(f"    {test}")
    previous = (name, skipped)
    status = status or len(failed)
if status:
    print(f"the details are above, and in {folder}/<build>/Testing/Temporary/LastTest.log")
sys.exit(1 if status else 0)
EOF
) || status=1
finish "$status" "$summary"
