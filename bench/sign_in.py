#!/usr/bin/env python3
"""Sign-in benchmark: from the redirect launch (xdg-open of the redirect URL) to the completed page
on screen, against the local HTTPS account service, inside a private mount and network namespace
as the end-to-end tests make it. Prints the median next to the two bare HTTPS exchanges that the
account benchmark measures.

    bench/sign_in.py --prefix INSTALLED_PREFIX --account-host HOST --support-host HOST
                     --exchange-bench PATH [--rounds N] [--exchange-rounds N]   (as root)
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import sign_in_test as e2e  # noqa: E402

from Xlib import X, display as xdisplay  # noqa: E402

# The title of the completed page, a band that no other page shows.
BAND = (0, 270, 450, 50)


class Round:
    def id(self):
        return "bench.sign_in"


def grab(window):
    return window.get_image(*BAND, X.ZPixmap, 0xFFFFFFFF).data


def main():
    parser = argparse.ArgumentParser()
    e2e.add_world_arguments(parser)
    parser.add_argument("--exchange-bench", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--exchange-rounds", type=int, default=50)
    arguments = parser.parse_args()

    namespace = e2e.inside_namespace()
    if namespace is None:
        return e2e.enter_namespace(__file__, sys.argv[1:])

    e2e.CONFIG = argparse.Namespace(**vars(arguments), output_dir=os.path.join(namespace.scratch, "shots"))
    world = e2e.WORLD = e2e.start_world(e2e.CONFIG)
    if world is None:
        return e2e.SKIP
    samples = []
    try:
        exchanges = e2e.run([arguments.exchange_bench, str(arguments.exchange_rounds)]).stdout
        connection = xdisplay.Display(world.display)
        reference = None
        for number in range(arguments.rounds + 1):
            session = e2e.Session(Round(), "ZembrikMacTesh")
            window = connection.create_resource_object("window", int(session.window))
            session.click_button("registerOnlineButton")
            session.wait_for_browser(1)
            started = time.monotonic()
            session.deliver_redirect(f"at-zembrik-tesh://oauth2?code=bench{number}")
            if reference is None:   # the first round learns what the completed page looks like
                session.wait_for_page("completed")
                reference = grab(window)
            else:
                while grab(window) != reference:
                    if time.monotonic() - started > 30:
                        raise RuntimeError("the completed page did not come up")
                    time.sleep(0.001)
                samples.append((time.monotonic() - started) * 1000.0)
            session.close()
    finally:
        world.close()

    print(exchanges.strip())
    print(f"sign-in rounds: {len(samples)}")
    print(f"redirect launch to completed page, median: {statistics.median(samples):.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
