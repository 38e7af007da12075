#!/usr/bin/env python3
"""End-to-end tests of the real application binary: the whole sign-in, from the click on the
sign-in button to the completed or the failed page, against a real HTTPS account service.

Everything runs in a private mount and network namespace that the test makes itself, so nothing on
the machine changes: the account host resolves to 127.0.0.1 there, the test authority is the only
trusted one, /Applications (in a root of the namespace's own) holds recorders of the product
launches, and an xdg-open earlier on PATH records what the application opens in the browser.
Redirects reach the application the way the desktop delivers them: the real xdg-open of a
registered desktop entry.
"""

import argparse
import base64
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
SKIP = 77

CONFIG = None   # command-line settings, filled in by main()
WORLD = None    # the namespace's shared services, set up once per process
# Without --no-mtab, mount would make /run/mount for its table on the machine's own /run.
MOUNT = ["mount", "--no-mtab"]


def wait_for(predicate, timeout, interval=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def read_lines(path):
    try:
        with open(path) as file:
            return file.read().splitlines()
    except FileNotFoundError:
        return []


def wait_for_count(read, count, timeout, what):
    """Waits until read() gives at least `count` entries, and returns them."""
    return wait_for(lambda: (lambda entries: entries if len(entries) >= count else None)(read()),
                    timeout, what=f"{count} {what}")


class CommandFailed(Exception):
    """A command that the tests run failed; the message holds what it said."""


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        said = (result.stderr + result.stdout).strip()
        raise CommandFailed(f"{shlex.join(command)} exited with status {result.returncode}"
                            + (f":\n{said}" if said else ", saying nothing"))
    return result


class NotContained(Exception):
    """A mount made in the namespace shows outside it."""


def mount_points():
    """The mount points this process sees, each with its parent's ID and its own, or None without
    /proc."""
    try:
        with open("/proc/self/mountinfo") as table:
            return [(fields[4], fields[1], fields[0]) for fields in map(str.split, table)]
    except OSError:
        return None


# How enter_namespace tells the script it runs inside where it is; see inside_namespace().
NAMESPACE_VARIABLE = "ZEMBRIK_E2E_NAMESPACE"


def enter_namespace(script, arguments):
    """Runs the script with the arguments, as root, in a mount and network namespace of its own and
    gives its exit status, or prints the reason and gives SKIP when it cannot. Inside, the script
    learns from inside_namespace() that it is there, so its command line stays its own."""
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("skipped: needs root to make a private mount and network namespace")
        return SKIP
    points = mount_points()
    if points is None:
        print("skipped: needs /proc to make a private mount and network namespace")
        return SKIP
    command = ["unshare", "--mount", "--net", "--fork"]
    inside = {"outside_pid": None}
    if not any(point == "/" for point, _, _ in points):
        # In a plain chroot and some containers, / is no mount point, so unshare cannot make the
        # mounts private; the inside checks each of its mounts against this process's view.
        command += ["--propagation", "unchanged"]
        inside["outside_pid"] = os.getpid()
    trial = subprocess.run([*command, "true"], capture_output=True, text=True)
    if trial.returncode != 0:
        reason = (trial.stderr.strip().splitlines() or ["unshare failed"])[-1]
        print(f"skipped: cannot make a private mount and network namespace here ({reason})")
        return SKIP
    # The scratch folder is made and removed out here: inside, the namespace's root is mounted on a
    # folder in it, which cannot go while the namespace lasts.
    inside["scratch"] = tempfile.mkdtemp(prefix="zembrik-e2e-")
    try:
        return subprocess.call([*command, sys.executable, os.path.abspath(script), *arguments],
                               env=dict(os.environ, **{NAMESPACE_VARIABLE: json.dumps(inside)}))
    finally:
        shutil.rmtree(inside["scratch"], ignore_errors=True)


def inside_namespace():
    """In a script that enter_namespace runs: its scratch folder, and the PID of a process that
    sees the machine's mounts when this namespace's mounts may reach them (else None). Outside:
    None."""
    text = os.environ.get(NAMESPACE_VARIABLE)
    return argparse.Namespace(**json.loads(text)) if text else None


def add_world_arguments(parser):
    """The command-line settings that World reads."""
    parser.add_argument("--prefix", required=True, help="where the application is installed")
    parser.add_argument("--account-host", required=True)
    parser.add_argument("--support-host", required=True)


def make_visible_mounts_private():
    """Without a private /, at least the mounts below it stop passing new mounts on."""
    points = mount_points() or []
    identifiers = {identifier for _, _, identifier in points}
    for point, parent, _ in points:
        if parent not in identifiers:
            subprocess.run([*MOUNT, "--make-rprivate", point], capture_output=True)


class World:
    """The namespace's fixed parts: network, trust, /Applications, X server, account service and
    the installed application."""

    def __init__(self, config):
        self.config = config
        self.processes = []
        self.mounts = []
        namespace = inside_namespace()
        self.root, self.outside_pid = namespace.scratch, namespace.outside_pid
        if self.outside_pid is not None:
            make_visible_mounts_private()

        # /tmp stays shared, so that a checkout or build tree there stays in sight. An X server in
        # another namespace may take the same display number, as its abstract socket is its
        # network namespace's own, and then replace the socket file of that number; so the socket
        # files get a folder of their own, as do the keymaps the servers compile at start.
        self.enter_own_root()
        self.launch_log = "/Applications/launches.log"
        if not os.path.isdir("/tmp/.X11-unix"):   # made as any X server makes it
            os.makedirs("/tmp/.X11-unix", exist_ok=True)
            os.chmod("/tmp/.X11-unix", 0o1777)
        self.mount("/tmp/.X11-unix", "-t", "tmpfs", "-o", "mode=1777", "tmpfs")
        if os.path.isdir("/var/lib/xkb"):
            self.mount("/var/lib/xkb", "-t", "tmpfs", "tmpfs")
        run(["ip", "link", "set", "lo", "up"])
        with open(os.path.join(TESTS, "certs", "ca.pem")) as authority:
            self.bind_file("ca-bundle.crt", authority.read(), "/etc/ssl/certs/ca-certificates.crt")
        for name in ("Ostrel Zembrik", "Ostrel Zembrik Tesh", "Ostrel Zembrik Plundar"):
            path = f"/Applications/{name}.app"
            with open(path, "w") as recorder:
                recorder.write(f'#!/bin/sh\necho "$0" >> {self.launch_log}\n')
            os.chmod(path, 0o755)

        self.display = self.start_x_server()
        self.service_script = os.path.join(self.root, "service-script.json")
        self.service_log = os.path.join(self.root, "service-log.jsonl")
        self.start_account_service()
        self.register_application()

    def enter_own_root(self):
        """Changes into a root of its own: a tmpfs holding every entry of the machine's / but /etc,
        an /Applications, and an /etc that holds every entry of the machine's but its hosts file,
        which is the test's. A mount point made on the machine's / or /etc, as over an /etc/hosts
        that a minimal system lacks, would stay there, namespace or not."""
        root = os.path.join(self.root, "root")
        self.mirror("/", root, besides={"Applications", "etc"})
        self.mirror("/etc", os.path.join(root, "etc"), besides={"hosts"})
        with open(os.path.join(root, "etc", "hosts"), "w") as hosts:
            hosts.write(f"127.0.0.1 localhost {self.config.account_host} {self.config.support_host}\n"
                        "::1 localhost\n")
        os.mkdir(os.path.join(root, "Applications"))
        os.chmod(os.path.join(root, "Applications"), 0o755)
        os.chroot(root)
        os.chdir("/")

    def mirror(self, source, target, besides):
        """Makes target a tmpfs holding every entry of source, each bound in, but those named."""
        os.makedirs(target, exist_ok=True)
        self.mount(target, "-t", "tmpfs", "-o", "mode=0755", "tmpfs")
        # Left out of the copies below, so that the tree holds no copy of itself.
        run([*MOUNT, "--make-unbindable", target])
        for name in os.listdir(source):
            entry, copy = os.path.join(source, name), os.path.join(target, name)
            if name in besides:
                continue
            if os.path.islink(entry):
                os.symlink(os.readlink(entry), copy)
            elif os.path.isdir(entry):
                os.mkdir(copy)
                run([*MOUNT, "--rbind", entry, copy])
            else:
                open(copy, "w").close()
                run([*MOUNT, "--bind", entry, copy])

    def bind_file(self, name, content, target):
        path = os.path.join(self.root, name)
        with open(path, "w") as file:
            file.write(content)
        self.mount(target, "--bind", path)

    def mount(self, target, *arguments):
        """Mounts over target, and takes it back when the mount shows outside the namespace."""
        run([*MOUNT, *arguments, target])
        self.mounts.append(target)
        if self.outside_pid is not None:
            try:
                seen_outside = os.stat(f"/proc/{self.outside_pid}/root" + target)
            except FileNotFoundError:   # not even the mount point shows outside
                return
            seen_inside = os.stat(target)
            if (seen_outside.st_dev, seen_outside.st_ino) == (seen_inside.st_dev, seen_inside.st_ino):
                self.unmount_all()
                raise NotContained(target)

    def unmount_all(self):
        # Only needed when mounts reach outside; the namespace's own go with it.
        for target in reversed(self.mounts):
            subprocess.run(["umount", "--no-mtab", target], capture_output=True)
        self.mounts = []

    def start_x_server(self):
        read_end, write_end = os.pipe()
        log = open(os.path.join(self.root, "xvfb.log"), "w")
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp", "-noreset"],
                                pass_fds=[write_end], stdout=log, stderr=log)
        os.close(write_end)
        self.processes.append(xvfb)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            with open(log.name) as messages:
                raise RuntimeError("the X server did not start:\n" + messages.read())
        return ":" + number

    def start_account_service(self):
        self.set_service_script(DEFAULT_SCRIPT)
        port_file = os.path.join(self.root, "service.port")
        service = subprocess.Popen([sys.executable, os.path.join(TESTS, "support", "account_service.py"),
                                    "--port", "443",
                                    "--cert", os.path.join(TESTS, "certs", "server.pem"),
                                    "--key", os.path.join(TESTS, "certs", "server.key"),
                                    "--port-file", port_file,
                                    "--script", self.service_script,
                                    "--log", self.service_log])
        self.processes.append(service)
        wait_for(lambda: os.path.exists(port_file) and os.path.getsize(port_file) > 0, 10,
                 what="the account service")

    def register_application(self):
        self.prefix = self.config.prefix
        self.executable = os.path.join(self.prefix, "bin", "zembrik-authorizer")
        self.data_home = os.path.join(self.prefix, "share")
        self.config_home = os.path.join(self.root, "config")
        os.makedirs(self.config_home, exist_ok=True)
        for scheme in ("at-zembrik-2-fennix", "at-zembrik-tesh"):
            run(["xdg-mime", "default", "zembrik-authorizer.desktop", f"x-scheme-handler/{scheme}"],
                env=self.desktop_environment())

    def desktop_environment(self, runtime_dir=None):
        environment = {
            "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": self.root,
            "DISPLAY": self.display,
            "XDG_DATA_HOME": self.data_home,
            "XDG_DATA_DIRS": "/usr/share",
            "XDG_CONFIG_HOME": self.config_home,
            "LANG": "C.UTF-8",
            # The gsettings that the framework starts, and may leave running, write no dconf files.
            "GSETTINGS_BACKEND": "memory",
        }
        if runtime_dir:
            environment["XDG_RUNTIME_DIR"] = runtime_dir
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
            if name in os.environ:
                environment[name] = os.environ[name]
        # In the sanitizer build, the X library that the framework loads and unloads itself leaves
        # allocations behind at exit that no longer have a module to be suppressed by; every other
        # check stays on, and the unit tests keep leak detection for our own code.
        environment["ASAN_OPTIONS"] = ":".join(filter(None, [environment.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        return environment

    def set_service_script(self, script):
        temporary = self.service_script + ".new"
        with open(temporary, "w") as file:
            json.dump(script, file)
        os.replace(temporary, self.service_script)

    def service_requests(self):
        return [json.loads(line) for line in read_lines(self.service_log) if line.strip()]

    def launches(self):
        return read_lines(self.launch_log)

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def start_world(config):
    """The World, or None after saying why this machine cannot contain it."""
    try:
        return World(config)
    except NotContained as leak:
        print(f"skipped: / is no mount point here and a mount over {leak} reached the rest of the system")
        return None


class Session:
    """One run of the application with its own runtime folder, browser recorder and screenshots."""

    def __init__(self, test, product=None, language="C.UTF-8"):
        self.test = test
        self.product = product
        self.language_suffix = "JP" if language.startswith("ja") else "EN"
        self.folder = tempfile.mkdtemp(prefix="session-", dir=WORLD.root)
        self.runtime_dir = os.path.join(self.folder, "runtime")
        os.mkdir(self.runtime_dir, 0o700)
        self.browser_log = os.path.join(self.folder, "browser.log")
        fake_bin = os.path.join(self.folder, "bin")
        os.mkdir(fake_bin)
        with open(os.path.join(fake_bin, "xdg-open"), "w") as recorder:
            recorder.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.browser_log}"\n')
        os.chmod(os.path.join(fake_bin, "xdg-open"), 0o755)

        environment = WORLD.desktop_environment(self.runtime_dir)
        environment["PATH"] = fake_bin + ":" + environment["PATH"]
        environment["LANG"] = language
        self.requests_before = len(WORLD.service_requests())
        self.output = open(os.path.join(self.folder, "output.log"), "w+")
        self.process = subprocess.Popen([WORLD.executable, *([product] if product else [])], env=environment,
                                        stdout=self.output, stderr=subprocess.STDOUT)
        self.window = self.find_windows(1, timeout=30)[0]

    # Windows -------------------------------------------------------------------------------------

    def find_windows(self, count, timeout=10):
        def search():
            result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid),
                                     "--name", "^Zembrik Authorizer$"],
                                    capture_output=True, text=True, env={"DISPLAY": WORLD.display})
            windows = result.stdout.split()
            return windows if len(windows) == count else None
        return wait_for(search, timeout, interval=0.1, what=f"{count} application window(s)")

    def geometry(self, window):
        output = run(["xdotool", "getwindowgeometry", "--shell", window], env={"DISPLAY": WORLD.display}).stdout
        values = dict(line.split("=", 1) for line in output.split())
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        run(["xdotool", "mousemove", "--window", self.window, str(x), str(y), "click", "1"],
            env={"DISPLAY": WORLD.display})

    def click_button(self, name):
        x, y, width, height = BUTTONS[name]
        self.click(x + width // 2, y + height // 2)

    def screenshot(self, name, window=None):
        folder = os.path.join(CONFIG.output_dir, self.test.id().split(".")[-1])
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        run(["import", "-display", WORLD.display, "-window", window or self.window, path])
        return path

    def current_page(self):
        """The page whose background the window shows, by the nearest of the candidate images."""
        shot = self.screenshot("probe")
        scores = {}
        for page, image in self.page_backgrounds().items():
            result = subprocess.run(["compare", "-metric", "RMSE",
                                     "(", shot, "-crop", "450x460+0+0", "+repage", ")",
                                     "(", image, "-resize", "450x600!", "-crop", "450x460+0+0", "+repage", ")",
                                     "null:"], capture_output=True, text=True)
            scores[page] = float(result.stderr.split("(")[1].split(")")[0])
        best = min(scores, key=scores.get)
        return best if scores[best] < 0.08 else None

    def page_backgrounds(self):
        resources = os.path.join(WORLD.prefix, "share", "zembrik-authorizer")
        language = self.language_suffix
        first = {"ZembrikMacTesh": "P1_BG_Common_TESH_", "ZembrikMacPlundar": "P1_BG_Common_PLUNDAR_"}
        return {
            "signIn": os.path.join(resources, first.get(self.product, "P1_BG_Common_") + language + ".png"),
            "completed": os.path.join(resources, "P3_BG_Common_" + language + ".png"),
            "failed": os.path.join(resources, "P4_BG_Common_" + language + ".png"),
        }

    def wait_for_page(self, page, timeout=15):
        wait_for(lambda: self.current_page() == page, timeout, interval=0.2, what=f"the {page} page")
        return self.screenshot(page)

    # Browser, redirects and the account service --------------------------------------------------

    def browser_addresses(self):
        return read_lines(self.browser_log)

    def wait_for_browser(self, count, timeout=10):
        return wait_for_count(self.browser_addresses, count, timeout, "browser address(es)")

    def deliver_redirect(self, url):
        """Opens the redirect URL the way a browser hands it to a GNOME desktop: xdg-open, which
        passes it to gio. (xdg-open's own generic path takes a scheme with a digit, such as
        at-zembrik-2-fennix, for a file name.)"""
        environment = WORLD.desktop_environment(self.runtime_dir)
        environment["XDG_CURRENT_DESKTOP"] = "GNOME"
        run(["/usr/bin/xdg-open", url], env=environment, timeout=30)

    def requests(self):
        return WORLD.service_requests()[self.requests_before:]

    def wait_for_requests(self, count, timeout=15):
        return wait_for_count(self.requests, count, timeout, "account service request(s)")

    def wait_for_exit(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.seek(0)
        return self.output.read()


# Button bounds inside the 450 x 600 content.
BUTTONS = {
    "registerOnlineButton": (85, 490, 280, 56),
    "howToAuthButton": (374, 508, 19, 19),
    "enjoyButton": (85, 490, 280, 56),
    "retryButton": (98, 493, 100, 50),
    "helpButton": (253, 493, 100, 50),
}
# Where the warning box draws its message lines.
BOX_MESSAGE_AREA = "440x36+80+62"


class SignInTest(unittest.TestCase):
    def setUp(self):
        WORLD.set_service_script(DEFAULT_SCRIPT)
        self.sessions = []

    def tearDown(self):
        for session in self.sessions:
            output = session.close()
            if session.process.returncode not in (0, -signal.SIGTERM):
                print(f"application output:\n{output}", file=sys.stderr)

    def start(self, product=None, language="C.UTF-8"):
        session = Session(self, product, language)
        self.sessions.append(session)
        return session

    def authorization_address(self, edition):
        if edition == 3:
            client, scheme = CONFIG.tesh_client_id, "at-zembrik-tesh"
        else:
            client, scheme = CONFIG.fennix_client_id, "at-zembrik-2-fennix"
        return (f"https://{CONFIG.account_host}/oauth/authorize?client_id={client}&scope=profile"
                f"&redirect_uri={scheme}%3A%2F%2Foauth2&response_type=code")

    def token_body(self, edition, code):
        if edition == 3:
            client, secret, uri = CONFIG.tesh_client_id, CONFIG.tesh_client_secret, "at-zembrik-tesh://oauth2"
        else:
            client, secret, uri = CONFIG.fennix_client_id, CONFIG.fennix_client_secret, "at-zembrik-2-fennix://oauth2"
        return (f"grant_type=authorization_code&client_id={client}&client_secret={secret}"
                f"&redirect_uri={uri}&code={code}")

    def assert_box_shown_and_close(self, session, name):
        """The warning box over the window: its screenshot is kept, then it is closed."""
        windows = session.find_windows(2, timeout=20)
        box = next(window for window in windows if window != session.window)
        # The box paints itself some time after it is mapped; then its message lines show.
        def painted():
            shot = session.screenshot(name, box)
            return shot if distinct_colours(shot, BOX_MESSAGE_AREA) > 4 else None
        shot = wait_for(painted, 20, interval=0.2, what="the box's message")
        close_box(session, box)
        return shot

    # ---------------------------------------------------------------------------------------------

    def test_successful_sign_in_launches_the_variants_own_application_and_quits(self):
        # Those that launch nothing come first, so that a launch of theirs, however late, shows
        # in a later row or in the whole log at the end.
        launches_at_start = len(WORLD.launches())
        for product, edition, launched in VARIANTS:
            with self.subTest(product=product):
                launches_before = len(WORLD.launches())
                session = self.start(product)
                self.assertEqual(session.geometry(session.window), (450, 600))
                session.wait_for_page("signIn")

                session.click_button("registerOnlineButton")
                self.assertEqual(session.wait_for_browser(1), [self.authorization_address(edition)])

                scheme = "at-zembrik-tesh" if edition == 3 else "at-zembrik-2-fennix"
                session.deliver_redirect(f"{scheme}://oauth2?code=Qx7-{edition}")
                token, profile = session.wait_for_requests(2)
                self.assertEqual((token["method"], token["path"]), ("POST", "/oauth/token"))
                self.assertEqual(token["body_text"], self.token_body(edition, f"Qx7-{edition}"))
                self.assertIn(["Content-Type", "application/x-www-form-urlencoded"], token["headers"])
                self.assertEqual((profile["method"], profile["path"]), ("GET", "/api/user"))
                sent = [header for header in profile["headers"]
                        if header[0] in ("Content-Type", "Accept", "Authorization")]
                self.assertEqual(sent, [["Content-Type", "application/x-www-form-urlencoded"],
                                        ["Accept", "application/json"],
                                        ["Authorization", "Bearer " + WORLD_TOKEN]])

                session.wait_for_page("completed")
                self.assertEqual(session.find_windows(1), [session.window])
                session.click_button("enjoyButton")
                self.assertEqual(session.wait_for_exit(), 0)
                if launched:
                    wait_for_count(WORLD.launches, launches_before + 1, 5, "product launch(es)")
                self.assertEqual(WORLD.launches()[launches_before:], [launched] if launched else [])
                self.assertEqual(len(session.requests()), 2)
        time.sleep(0.5)
        self.assertEqual(WORLD.launches()[launches_at_start:],
                         [launched for _, _, launched in VARIANTS if launched])

    def test_failed_token_exchange_shows_the_failed_page_and_retry_starts_over(self):
        WORLD.set_service_script({"/oauth/token": {"status": 400, "body": '{"error":"invalid_grant"}'}})
        session = self.start("ZembrikMac")
        session.click_button("registerOnlineButton")
        session.wait_for_browser(1)
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=stale")

        self.assert_box_shown_and_close(session, "token-failure-box")
        self.assertEqual([r["path"] for r in session.requests()], ["/oauth/token"])
        session.wait_for_page("failed")

        session.click_button("retryButton")
        session.wait_for_page("signIn")
        self.assertEqual(len(session.browser_addresses()), 1)

        WORLD.set_service_script(DEFAULT_SCRIPT)
        session.click_button("registerOnlineButton")
        session.wait_for_browser(2)
        time.sleep(1.5)
        self.assertEqual(len(session.requests()), 1, "retry must discard the used code")
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=fresh")
        requests = session.wait_for_requests(3)
        self.assertEqual(requests[1]["body_text"], self.token_body(1, "fresh"))
        session.wait_for_page("completed")

    def test_profile_reply_that_is_not_json_fails(self):
        WORLD.set_service_script({"/api/user": {"status": 200, "content_type": "text/html",
                                                "body": "<html><body>Maintenance</body></html>"}})
        session = self.start("ZembrikMacPlundar")
        session.wait_for_page("signIn")
        session.click_button("registerOnlineButton")
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=html")
        self.assert_box_shown_and_close(session, "profile-failure-box")
        session.wait_for_page("failed")
        self.assertEqual(len(session.requests()), 2)

    def test_profile_request_without_a_reply_fails(self):
        WORLD.set_service_script({"/api/user": {"drop": True}})
        session = self.start("ZembrikMac")
        session.click_button("registerOnlineButton")
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=dropped")
        self.assert_box_shown_and_close(session, "profile-transport-failure-box")
        session.wait_for_page("failed")

    def test_code_delivered_before_the_click_is_used_after_it(self):
        session = self.start("ZembrikMacTesh")
        session.deliver_redirect("at-zembrik-tesh://oauth2?code=early")
        time.sleep(1.5)
        self.assertEqual(session.requests(), [])
        clicked = time.monotonic()
        session.click_button("registerOnlineButton")
        token = session.wait_for_requests(1)[0]
        self.assertGreater(time.monotonic() - clicked, 0.5)
        self.assertEqual(token["body_text"], self.token_body(3, "early"))
        session.wait_for_page("completed")

    def test_help_buttons_open_their_support_pages(self):
        WORLD.set_service_script({"/oauth/token": {"status": 500, "body": ""}})
        session = self.start("ZembrikMac")
        session.click_button("howToAuthButton")
        self.assertEqual(session.wait_for_browser(1),
                         [f"https://{CONFIG.support_host}/hc/articles/115001010326"])
        session.click_button("registerOnlineButton")
        session.wait_for_browser(2)
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=help")
        self.assert_box_shown_and_close(session, "box")
        session.wait_for_page("failed")
        session.click_button("helpButton")
        self.assertEqual(session.wait_for_browser(3)[2],
                         f"https://{CONFIG.support_host}/hc/ja/sections/115001610366")

    def test_japanese_session_shows_japanese_pages_and_box(self):
        WORLD.set_service_script({"/oauth/token": {"status": 401, "body": "{}"}})
        session = self.start("ZembrikMac", language="ja_JP.UTF-8")
        session.wait_for_page("signIn")
        session.click_button("registerOnlineButton")
        session.deliver_redirect("at-zembrik-2-fennix://oauth2?code=ja")
        shot = self.assert_box_shown_and_close(session, "japanese-box")
        # The message lines lie here; a typeface without Japanese glyphs would leave them blank.
        self.assertGreater(distinct_colours(shot, BOX_MESSAGE_AREA), 4, "the box must draw its text")
        session.wait_for_page("failed")


# First argument, its edition and the application its completed page starts.
VARIANTS = [
    (None, 0, None),
    ("zembrikmacplundar", 0, None),
    ("ZembrikMac", 1, "/Applications/Ostrel Zembrik.app"),
    ("ZembrikMacTesh", 3, "/Applications/Ostrel Zembrik Tesh.app"),
    ("ZembrikMacPlundar", 2, "/Applications/Ostrel Zembrik Plundar.app"),
]

WORLD_TOKEN = "test-access-token"
DEFAULT_SCRIPT = {
    "/oauth/token": {"status": 200, "content_type": "application/json",
                     "body": json.dumps({"access_token": WORLD_TOKEN, "refresh_token": "test-refresh-token",
                                         "token_type": "Bearer", "expires_in": 3600})},
    "/api/user": {"status": 200, "content_type": "application/json",
                  "body": json.dumps({"id": 4711, "name": "Test User"})},
}


def close_box(session, box):
    """Return on the focused box, as a user presses it, then the pointer back over the window.

    Without a window manager nothing else reaches the application after the box has gone, and the
    framework leaves the expose events that the box's departure queued unhandled until the next
    event from the X server arrives; the pointer's return is that event."""
    run(["xdotool", "windowfocus", "--sync", box, "key", "Return"], env={"DISPLAY": WORLD.display})
    session.find_windows(1)
    run(["xdotool", "mousemove", "--window", session.window, "225", "300"], env={"DISPLAY": WORLD.display})


def distinct_colours(path, area):
    return int(run(["convert", path, "-crop", area, "+repage", "-format", "%k", "info:"]).stdout)


def main():
    global CONFIG, WORLD
    parser = argparse.ArgumentParser()
    add_world_arguments(parser)
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--fennix-client-id", required=True)
    parser.add_argument("--fennix-client-secret", required=True)
    parser.add_argument("--tesh-client-id", required=True)
    parser.add_argument("--tesh-client-secret", required=True)
    CONFIG, rest = parser.parse_known_args()

    if inside_namespace() is None:
        return enter_namespace(__file__, sys.argv[1:])

    os.makedirs(CONFIG.output_dir, exist_ok=True)
    WORLD = start_world(CONFIG)
    if WORLD is None:
        return SKIP
    try:
        program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
        return 0 if program.result.wasSuccessful() else 1
    finally:
        WORLD.close()


if __name__ == "__main__":
    sys.exit(main())
