#!/usr/bin/python3
"""Drives the real main window through the accessibility bus, as a screen reader would.

Runs inside a private X server and D-Bus session (see the ctest registration):
    a11y_test.py TELVANE TELVANE_DEVICE_TOOL
It installs Telvane on a temporary device, starts it, finds its controls by accessible name and
role, changes Bluetooth and the battery with the device console and reads the new names, then
presses the Hide button through its accessible action and checks that the phone lists the main
window hidden.
"""
import json
import sys

import pyatspi

from atspi_support import DeviceSession, act, wait_for, walk


def controls(app, role):
    return [n for n in walk(app) if n.getRole() == role]


def named(app, role, prefix):
    for n in controls(app, role):
        if n.name.startswith(prefix):
            return n
    return None


def main():
    with DeviceSession(sys.argv[1], sys.argv[2], "telvane-a11y-") as session:
        console = session.console
        console("install")
        console("battery", "40")
        console("signal", "-85")
        console("bt", "connectable")
        app = session.start()
        push = pyatspi.ROLE_PUSH_BUTTON

        # Every feature button is a push button named by its caption and status; the Bluetooth
        # button names the mode it shows.
        bt = wait_for("the Bluetooth button", lambda: named(app, push, "Bluetooth"))
        wait_for("Bluetooth on in its name", lambda: bt.name == "Bluetooth - On" or None)
        names = [n.name for n in controls(app, push)]
        for caption in ("Current location", "Data", "Band", "Hide", "Refresh", "Wi-Fi",
                        "Bluetooth", "Sound", "Phone"):
            assert any(n == caption or n.startswith(caption + " - ") for n in names), (caption, names)
        place = named(app, push, "Current location")
        assert "Area: 0" in place.description, place.description

        # The bars read their levels; the menu bar carries the soft keys.
        bars = {n.name for n in controls(app, pyatspi.ROLE_PROGRESS_BAR)}
        assert "Battery: 40 %" in bars, bars
        assert "Signal: 45 %" in bars, bars
        menu = controls(app, pyatspi.ROLE_MENU_BAR)
        assert menu and menu[0].name == "Menu", [m.name for m in menu]
        items = {n.name for n in walk(menu[0]) if n is not menu[0]}
        assert {"Hide", "Menu"} <= items, items

        # Nothing the user can reach is left without a name.
        reachable = (push, pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_MENU_BAR, pyatspi.ROLE_MENU,
                     pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_FRAME)
        unnamed = [n.getRoleName() for n in walk(app) if n.getRole() in reachable and not n.name]
        assert not unnamed, unnamed

        # The phone changes; the names follow what the window shows.
        console("bt", "discoverable")
        wait_for("Bluetooth discoverable in its name",
                 lambda: bt.name == "Bluetooth - Visible" or None)
        console("battery", "75")
        wait_for("the battery bar at 75 %",
                 lambda: named(app, pyatspi.ROLE_PROGRESS_BAR, "Battery: 75 %"))

        # Pressing the Bluetooth button opens its option dialog: every option is a named push
        # button, cancel first; cancel closes it and changes nothing.
        act(bt, "Press")
        dialog = wait_for("the option dialog", lambda: next(
            (n for n in walk(app) if n.getRole() == pyatspi.ROLE_DIALOG and n.name == "Choose an option"
             and n.getState().contains(pyatspi.STATE_SHOWING)), None))
        options = [n.name for n in walk(dialog) if n.getRole() == push]
        assert options == ["Cancel", "On", "Off", "Settings"], options
        act(next(n for n in walk(dialog) if n.getRole() == push and n.name == "Cancel"), "Press")
        wait_for("the option dialog closed",
                 lambda: not dialog.getState().contains(pyatspi.STATE_SHOWING) or None)
        assert console("bt").strip() == "discoverable"

        # A user of a screen reader presses Hide: the phone lists the window hidden.
        act(named(app, push, "Hide"), "Press")

        def main_window_hidden():
            for w in json.loads(console("state", "--json"))["windows"]:
                if w["class"] == "MainWindow":
                    return w["visible"] is False
            return False

        wait_for("the main window hidden", main_window_hidden)
        print("a11y end-to-end: ok")


if __name__ == "__main__":
    main()
