"""What the accessibility-bus tests share: waiting for a condition and walking the tree."""
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
