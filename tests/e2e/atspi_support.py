"""What the accessibility-bus tests share: a temporary device with its accessibility bus and the
program started on it, waiting for a condition, walking the tree and running a node's action."""
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

import pyatspi

TIMEOUT = 20.0


def wait_for(what, probe, timeout=TIMEOUT):
    """Polls `probe` until it returns something true; fails the test with `what` otherwise."""
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = probe()
        except Exception as error:  # the tree changes under us while windows open and lay out
            last = error
        if last and not isinstance(last, Exception):
            return last
        time.sleep(0.1)
    raise AssertionError("timed out waiting for %s (last: %r)" % (what, last))


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find_app(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def act(node, *names):
    """Runs the first of the node's accessible actions called one of `names`."""
    action = node.queryAction()
    available = [action.getName(i) for i in range(action.nActions)]
    for name in names:
        if name in available:
            action.doAction(available.index(name))
            return
    raise AssertionError("%s has none of %s: %s" % (node.name, names, available))


class DeviceSession:
    """A temporary device folder and a private accessibility bus, for `with`:
        with DeviceSession(telvane, tool, "telvane-a11y-") as session:
            session.console("install")
            app = session.start()
    Leaving the block ends the program and every process of the device, the bus, and removes
    the folder."""

    def __init__(self, telvane, tool, prefix):
        self.telvane = telvane
        self.tool = tool
        self.device = tempfile.mkdtemp(prefix=prefix)
        self.env = dict(os.environ, TELVANE_DEVICE=self.device, TELVANE_DEVICE_TOOL=tool,
                        QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                        QT_ACCESSIBILITY="1")
        self.program = None
        self.bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __enter__(self):
        try:
            # The program joins the accessibility bus at start-up: the bus and its registry must
            # be up before it starts.
            wait_for("the accessibility bus", lambda: pyatspi.Registry.getDesktop(0) is not None
                     and pyatspi.Registry.getDesktop(0).childCount >= 0)
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def console(self, *args):
        """Runs the device tool with `args`; its output without the surrounding white space."""
        out = subprocess.run([self.tool, *args], env=self.env, check=True, capture_output=True,
                             text=True)
        return out.stdout.strip()

    def start(self):
        """Starts the program on the device; its application node once it is on the bus."""
        self.program = subprocess.Popen([self.telvane], env=self.env, stderr=subprocess.DEVNULL)
        pid = self.program.pid
        try:
            return wait_for("the application on the bus", lambda: find_app(pid))
        except AssertionError:
            desktop = pyatspi.Registry.getDesktop(0)
            print("applications on the bus:", [(a.name, a.get_process_id()) for a in
                  (desktop.getChildAtIndex(i) for i in range(desktop.childCount)) if a])
            raise

    def close(self):
        if self.program is not None:
            self.program.kill()
            self.program.wait()
            self.program = None
        # The program starts the device's notification runner: end every process of the device.
        try:
            for process in json.loads(self.console("state", "--json"))["processes"]:
                if process.get("pid") not in (None, os.getpid()):
                    os.kill(process["pid"], signal.SIGKILL)
        except (subprocess.CalledProcessError, ValueError, KeyError, OSError):
            pass
        self.bus.terminate()
        self.bus.wait()
        shutil.rmtree(self.device, ignore_errors=True)
