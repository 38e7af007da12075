#!/usr/bin/env python3
"""Start-up and memory benchmark of the application against two floors.

From exec to the sign-in page mapped on screen at 450 x 600, alternating over many rounds with
  (a) a minimal framework application that maps a 450 x 600 window, and
  (b) the same application after it has decoded the same image files as the sign-in page
      (halving the backgrounds).
Then the resident size with the page shown, against (b). Goals: at most 1.1 times (b) each.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile

LANGUAGE = "EN"
PRODUCT = "ZembrikMacTesh"
BACKGROUNDS = ["P1_BG_Common_TESH_", "P3_BG_Common_", "P4_BG_Common_"]
BUTTONS = ["P1_BTN_SignIn_", "BTN_question", "P3_BTN_Close_", "P4_BTN_Retry_", "P4_BTN_Help_"]


def image_path(resources, name):
    suffix = "" if name == "BTN_question" else LANGUAGE
    return os.path.join(resources, name + suffix + ".png")


def measure(timer, command, environment):
    output = subprocess.run([timer, "--rss-after-ms", "400", "--", *command], env=environment,
                            capture_output=True, text=True, check=True).stdout
    values = dict(line.split("=") for line in output.split())
    return float(values["mapped_ms"]), int(values["rss_kib"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--rounds", type=int, default=30)
    arguments = parser.parse_args()

    stage = os.path.join(arguments.build_dir, "stage")
    resources = os.path.join(stage, "share", "zembrik-authorizer")
    timer = os.path.join(arguments.build_dir, "bench", "launch-timer")
    minimal = os.path.join(arguments.build_dir, "bench", "minimal-window-app")
    application = os.path.join(stage, "bin", "zembrik-authorizer")

    backgrounds = [image_path(resources, name) for name in BACKGROUNDS]
    buttons = [image_path(resources, name) for name in BUTTONS]
    candidates = {
        "application": [application, PRODUCT],
        "(a) window": [minimal],
        "(b) window + images": [minimal, *backgrounds, "--buttons", *buttons],
    }

    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        display = ":" + numbers.readline().strip()

    results = {name: ([], []) for name in candidates}
    try:
        with tempfile.TemporaryDirectory() as runtime:
            os.chmod(runtime, 0o700)
            environment = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=runtime, LANG="C.UTF-8")
            for name, command in candidates.items():   # warm the page cache
                measure(timer, command, environment)
            for round_number in range(arguments.rounds):
                order = list(candidates.items())
                if round_number % 2:
                    order.reverse()
                for name, command in order:
                    mapped, rss = measure(timer, command, environment)
                    results[name][0].append(mapped)
                    results[name][1].append(rss)
    finally:
        xvfb.terminate()
        xvfb.wait()

    medians = {name: (statistics.median(times), statistics.median(sizes))
               for name, (times, sizes) in results.items()}
    for name, (time_ms, rss_kib) in medians.items():
        print(f"{name:22s} start-up median {time_ms:8.1f} ms   resident {rss_kib / 1024:7.1f} MiB")
    app_time, app_rss = medians["application"]
    print(f"start-up ratio to (a): {app_time / medians['(a) window'][0]:.3f}")
    print(f"start-up ratio to (b): {app_time / medians['(b) window + images'][0]:.3f}   (goal <= 1.1)")
    print(f"memory ratio to (b):   {app_rss / medians['(b) window + images'][1]:.3f}   (goal <= 1.1)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
