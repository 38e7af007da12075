"""The real application binary on a private X server: its one window, its single instance, its
close request and its start without a display. Run as: application_window_test.py <binary>."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from Xlib import X, Xatom, display as xdisplay, protocol

BINARY = None
TITLE = "Zembrik Authorizer"


class PrivateXServer:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.name = ":" + pipe.readline().strip()
        self.connection = xdisplay.Display(self.name)
        # A desktop's window manager has these atoms; the framework only uses atoms that exist.
        for atom in ["WM_PROTOCOLS", "WM_DELETE_WINDOW", "_MOTIF_WM_HINTS", "_NET_WM_ALLOWED_ACTIONS",
                     "_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_FULLSCREEN", "_NET_WM_ACTION_MINIMIZE",
                     "_NET_WM_ACTION_CLOSE"]:
            self.connection.intern_atom(atom)
        self.connection.sync()

    def close(self):
        self.connection.close()
        self.process.terminate()
        self.process.wait()

    def windows(self):
        found = []
        for window in self.connection.screen().root.query_tree().children:
            name = window.get_full_property(self.connection.intern_atom("_NET_WM_NAME"), 0) \
                or window.get_full_property(Xatom.WM_NAME, 0)
            attributes = window.get_attributes()
            if name is not None and name.value in (TITLE.encode(), TITLE) and attributes.map_state == X.IsViewable:
                found.append(window)
        return found

    def wait_for_windows(self, count, timeout=20.0):
        deadline = time.monotonic() + timeout
        while len(self.windows()) != count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.windows()

    def request_close(self, window):
        atom = self.connection.intern_atom
        event = protocol.event.ClientMessage(window=window, client_type=atom("WM_PROTOCOLS"),
                                             data=(32, [atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.connection.sync()


class ApplicationWindowTest(unittest.TestCase):
    def setUp(self):
        self.runtime = tempfile.mkdtemp(prefix="zembrik-app-test-")
        os.chmod(self.runtime, 0o700)
        self.server = PrivateXServer()
        # The memory backend keeps the gsettings that the framework starts, and may leave running,
        # from writing dconf files into the runtime folder after it has been removed.
        self.environment = dict(os.environ, DISPLAY=self.server.name, XDG_RUNTIME_DIR=self.runtime,
                                GSETTINGS_BACKEND="memory")
        # In the sanitizer build: libX11, which the framework loads and unloads itself, leaves
        # allocations behind at exit that no code of ours makes; every other finding still fails.
        self.environment["ASAN_OPTIONS"] = ":".join(
            filter(None, [os.environ.get("ASAN_OPTIONS", ""), "detect_leaks=0"]))
        self.process = None

    def tearDown(self):
        if self.process is not None:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            self.process.stderr.close()
        self.server.close()
        shutil.rmtree(self.runtime, ignore_errors=True)

    def run_launch(self, *arguments, environment=None):
        return subprocess.run([BINARY, *arguments], env=environment or self.environment, capture_output=True, timeout=30)

    def test_url_launch_becomes_one_fixed_centred_window_later_launches_end_at_once_and_close_quits(self):
        process = self.process = subprocess.Popen([BINARY, "at-zembrik-2-fennix://oauth2?code=abc"], env=self.environment,
                                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        windows = self.server.wait_for_windows(1)
        self.assertEqual(len(windows), 1)
        window = windows[0]

        geometry = window.get_geometry()
        self.assertEqual((geometry.width, geometry.height), (450, 600))
        position = window.translate_coords(self.server.connection.screen().root, 0, 0)
        self.assertLessEqual(abs(-position.x - (1280 - 450) // 2), 1)
        self.assertLessEqual(abs(-position.y - (1024 - 600) // 2), 1)

        # The fixed-size limits are set just after the window is mapped.
        deadline = time.monotonic() + 5
        while window.get_wm_normal_hints().max_width == 0 and time.monotonic() < deadline:
            time.sleep(0.02)
        hints = window.get_wm_normal_hints()
        self.assertEqual((hints.min_width, hints.min_height, hints.max_width, hints.max_height), (450, 600, 450, 600))

        atom = self.server.connection.intern_atom
        motif = window.get_full_property(atom("_MOTIF_WM_HINTS"), X.AnyPropertyType).value
        functions, decorations = motif[1], motif[2]
        # Functions: minimise and close offered, maximise and resize not; no maximise button.
        self.assertEqual((functions & 0x3a, decorations & 0x40), (0x28, 0))
        actions = window.get_full_property(atom("_NET_WM_ALLOWED_ACTIONS"), Xatom.ATOM).value
        self.assertNotIn(atom("_NET_WM_ACTION_RESIZE"), actions)
        self.assertNotIn(atom("_NET_WM_ACTION_FULLSCREEN"), actions)

        for arguments in [(), ("ZembrikMacTesh", "a b"), ("at-zembrik-tesh://oauth2?code=def",)]:
            launch = self.run_launch(*arguments)
            self.assertEqual(launch.returncode, 0, launch.stderr.decode(errors="replace"))

        time.sleep(0.3)
        self.assertEqual(self.server.windows(), [window])
        self.assertIsNone(process.poll())

        self.server.request_close(window)
        self.assertEqual(process.wait(timeout=30), 0, process.stderr.read().decode(errors="replace"))

    def test_launch_without_display_prints_message_and_fails_cleanly(self):
        for display in [None, ":31999"]:
            environment = {name: value for name, value in self.environment.items() if name != "DISPLAY"}
            if display is not None:
                environment["DISPLAY"] = display
            launch = self.run_launch(environment=environment)
            self.assertEqual(launch.returncode, 1, launch.stderr.decode(errors="replace"))
            self.assertIn(b"Zembrik Authorizer needs a graphical display", launch.stderr)


if __name__ == "__main__":
    BINARY = sys.argv.pop(1)
    unittest.main()
