#!/usr/bin/python3
"""A user builds a place with the settings sheet alone, through the accessibility bus.

Runs inside a private X server and D-Bus session (see the ctest registration):
    settings_test.py TELVANE TELVANE_DEVICE_TOOL
On a Monday morning the user opens the settings sheet, creates the place "Gym", gives it the
location area 4711 typed in, a time frame "Evening" from 18:00 to 20:00 and two actions on
Monday to Friday: sound off on entering, sound on on leaving. Then the phone is moved into that
area at 18:30 with the device clock: the sound goes off, "current_place" is Gym, and the
exported data file holds exactly what was entered. The place is then removed with everything
that belongs to it.
"""
import json
import os
import sys
import xml.etree.ElementTree as ET

import pyatspi

from atspi_support import DeviceSession, act, wait_for, walk

WM_COMMAND = "273"
CMD_SETTINGS = "40002"
CMD_XML_EXPORT = "40060"
CMD_CURRENT_ACTIONS = "40233"
SETTINGS_KEY = "\\SOFTWARE\\Orvella\\Telvane"


def window(app, title):
    """The top-level window (the sheet or a dialog) with that title."""
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is not None and child.name == title:
            return child
    return None


def named(root, role, name):
    for n in walk(root):
        if n.getRole() == role and n.name == name and n.getState().contains(pyatspi.STATE_SHOWING):
            return n
    return None


def combo(root, caption):
    """A list by its caption: lists read their current choice as their name."""
    for n in walk(root):
        if (n.getRole() == pyatspi.ROLE_COMBO_BOX and n.description == caption
                and n.getState().contains(pyatspi.STATE_SHOWING)):
            return n
    return None


def choices(root, caption):
    node = combo(root, caption)
    return [n.name for n in walk(node) if n.getRole() == pyatspi.ROLE_LIST_ITEM] if node else []


REACHABLE = (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
             pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_LIST,
             pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_DIALOG)


def assert_named(root):
    """Nothing the user can reach on screen is left without a name (a list without a choice
    reads its caption as description)."""
    unnamed = [n.getRoleName() for n in walk(root)
               if n.getRole() in REACHABLE and n.getState().contains(pyatspi.STATE_SHOWING)
               and not n.name and not n.description]
    assert not unnamed, (root.name, unnamed)


def type_into(root, caption, text):
    field = wait_for("the field " + caption, lambda: named(root, pyatspi.ROLE_TEXT, caption))
    field.queryEditableText().setTextContents(text)
    wait_for(caption + " filled", lambda: field.queryText().getText(0, -1) == text)


def main():
    with DeviceSession(sys.argv[1], sys.argv[2], "telvane-settings-") as session:
        run(session)


def run(session):
    console = session.console
    device = session.device

    def key(name):
        console("key", name)

    app = None
    try:
        console("install")
        console("clock", "set", "2026-12-07 10:00:00")  # a Monday
        console("cell", "100", "200")
        console("sound", "on")
        app = session.start()
        wait_for("the main window", lambda: window(app, "Telvane"))
        push = pyatspi.ROLE_PUSH_BUTTON

        def open_dialog(root, button, title):
            act(wait_for(button, lambda: named(root, push, button)), "Press")
            dialog = wait_for("the dialog " + title, lambda: window(app, title))
            assert_named(dialog)
            return dialog

        def save(dialog):
            act(named(dialog, push, "Save"), "Press")
            wait_for("the dialog closed", lambda: window(app, dialog.name) is None)

        def popup_open():
            return any(w["class"] == "QComboBoxPrivateContainer" and w["visible"]
                       for w in json.loads(console("state", "--json"))["windows"])

        def choose(root, caption, steps):
            """Moves a list's choice as a user would: opens it, then the direction keys and
            enter."""
            node = wait_for(caption, lambda: combo(root, caption))
            before = node.name
            act(node, "Show Menu", "Press", "ShowMenu")
            wait_for("the list of " + caption + " open", popup_open)
            for _ in range(abs(steps)):
                key("down" if steps > 0 else "up")
            key("enter")
            wait_for("the list of " + caption + " closed", lambda: not popup_open())
            if steps:
                wait_for(caption + " changed", lambda: combo(root, caption).name != before)
            return node

        # A control only each page has, to know that the page is the one shown.
        landmarks = {"Settings": "Add location...", "Places": "Add place",
                     "Connections": "Close idle connections", "Cell history": "Cell history",
                     "Event log": "Event log", "Options": "Wake the phone to refresh",
                     "More options": "Learn new cells of known areas"}

        def showing(root, name, role):
            return any(n.name == name and n.getRole() == role
                       and n.getState().contains(pyatspi.STATE_SHOWING) for n in walk(root))

        def tab(sheet, title):
            page = wait_for("the tab " + title, lambda: named(sheet, pyatspi.ROLE_PAGE_TAB, title))
            act(page, "Press", "Switch", "Activate")
            wait_for(title + " shown", lambda: any(
                showing(sheet, landmarks[title], role) for role in (
                    push, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE,
                    pyatspi.ROLE_TREE)))
            assert_named(sheet)

        # The sheet opens from the menu's settings command; the main window waits meanwhile.
        console("post", "MainWindow", WM_COMMAND, CMD_SETTINGS, "0")
        sheet = wait_for("the settings sheet", lambda: window(app, "Settings"))
        for page in ("Connections", "Cell history", "Event log", "More options"):
            tab(sheet, page)
        windows = {w["class"]: w for w in json.loads(console("state", "--json"))["windows"]}
        assert windows["MainWindow"]["enabled"] is False, windows["MainWindow"]
        assert (windows["CSettingsSheet"]["width"], windows["CSettingsSheet"]["height"]) == (240, 320)

        # The sheet follows the phone when it turns.
        def sheet_size():
            for w in json.loads(console("state", "--json"))["windows"]:
                if w["class"] == "CSettingsSheet":
                    return (w["width"], w["height"])
            return None

        console("rotate")
        wait_for("the sheet turned", lambda: sheet_size() == (320, 240))
        console("rotate")
        wait_for("the sheet upright", lambda: sheet_size() == (240, 320))

        # A new place. The user declines the whole-day frame the program offers.
        tab(sheet, "Places")
        console("boxes", "answer", "no")
        place = open_dialog(sheet, "Add place", "Place")
        type_into(place, "Name", "Gym")
        type_into(place, "Description", "Evenings")
        save(place)
        console("boxes", "answer", "yes")

        # Its location area, typed in on the locations page.
        tab(sheet, "Settings")
        choose(sheet, "Places", -1)  # Gym comes before Unknown
        wait_for("Gym chosen", lambda: combo(sheet, "Places").name == "Gym")
        location = open_dialog(sheet, "Add location...", "Add location")
        # Missing input keeps the dialog open.
        act(named(location, push, "Save"), "Press")
        wait_for("the refusal", lambda: "Please enter the location code." in console("boxes"))
        assert window(app, "Add location") is not None
        type_into(location, "LAC:", "4711")
        save(location)
        wait_for("the area listed", lambda: named(sheet, pyatspi.ROLE_LIST_ITEM, "Area: 4711"))

        # The evening frame and its two actions.
        tab(sheet, "Places")
        frame = open_dialog(sheet, "Add time frame", "Time frame")
        type_into(frame, "Name", "Evening")
        type_into(frame, "Start", "18:00")
        type_into(frame, "End", "20:00")
        save(frame)
        wait_for("the frame listed",
                 lambda: named(sheet, pyatspi.ROLE_LIST_ITEM, "18:00-20:00 Evening"))

        def sound_action(direction_steps, status_steps):
            action = open_dialog(sheet, "Add action", "Action")
            choose(action, "Action", 2)  # Wi-Fi, Bluetooth, Sound
            wait_for("the sound kind", lambda: "vibrate" in choices(action, "Switch to"))
            choose(action, "When", direction_steps)
            choose(action, "Switch to", status_steps)
            for day in ("Saturday", "Sunday"):
                box = named(action, pyatspi.ROLE_CHECK_BOX, day)
                act(box, "Toggle", "Press")
                wait_for(day + " off", lambda: not box.getState().contains(pyatspi.STATE_CHECKED))
            save(action)

        sound_action(0, 0)  # on entering: silent
        sound_action(1, 2)  # on leaving: on
        wait_for("the leaving action listed",
                 lambda: named(sheet, pyatspi.ROLE_LIST_ITEM, "Sound: on"))
        act(named(sheet, push, "Save"), "Press")
        wait_for("the sheet closed", lambda: window(app, "Settings") is None)

        # Monday 18:30 in the Gym's area.
        console("clock", "set", "2026-12-07 18:30:00")
        console("cell", "101", "4711")
        wait_for("the sound off", lambda: console("sound") == "silent")
        wait_for("current_place Gym",
                 lambda: console("reg", "get", "HKLM", SETTINGS_KEY, "current_place") == "Gym")

        # The current place's actions open the places page on Gym and its frame now in force.
        console("post", "MainWindow", WM_COMMAND, CMD_CURRENT_ACTIONS, "0")
        sheet = wait_for("the sheet on the current actions", lambda: window(app, "Settings"))
        wait_for("Gym's evening actions shown", lambda: combo(sheet, "Places").name == "Gym"
                 and showing(sheet, "Sound: on", pyatspi.ROLE_LIST_ITEM))
        evening = named(sheet, pyatspi.ROLE_LIST_ITEM, "18:00-20:00 Evening")
        assert evening.getState().contains(pyatspi.STATE_SELECTED), evening.getState().getStates()
        act(named(sheet, push, "Cancel"), "Press")
        wait_for("the sheet closed", lambda: window(app, "Settings") is None)

        # The exported data holds what was entered.
        console("post", "MainWindow", WM_COMMAND, CMD_XML_EXPORT, "0")
        exported = os.path.join(device, "export.xml")

        def export_written():
            console("file", "get", "\\Telvane.xml", exported)
            return ET.parse(exported)

        root = wait_for("the data file", export_written).getroot()
        gym = [p for p in root.iter("place") if p.get("name") == "Gym"]
        assert len(gym) == 1, ET.tostring(root)
        gym = gym[0]
        assert gym.get("description") == "Evenings", gym.attrib
        assert [(c.tag, c.get("id")) for c in gym if c.tag in ("lac", "cell")] == [("lac", "4711")]
        frames = gym.findall("schedule")
        assert len(frames) == 1, ET.tostring(gym)
        f = frames[0]
        assert f.get("name") == "Evening", f.attrib
        assert [f.get(k) for k in ("begin_hour", "begin_minute", "end_hour", "end_minute")] == [
            "18", "0", "20", "0"], f.attrib
        actions = sorted((a.get("type"), a.get("id"), a.get("arg_int_1"), a.get("arg_int_2"))
                         for a in f.findall("action"))
        assert actions == [("0", "2", "0", "11000000"), ("1", "2", "2", "11000000")], actions

        # A refresh interval with the phone woken arms its wake-up when the sheet is saved; a
        # new language applies at the next start.
        console("post", "MainWindow", WM_COMMAND, CMD_SETTINGS, "0")
        sheet = wait_for("the settings sheet", lambda: window(app, "Settings"))
        tab(sheet, "Options")
        refresh = wait_for("the refresh interval",
                           lambda: named(sheet, pyatspi.ROLE_SPIN_BUTTON, "Refresh every (minutes)"))
        refresh.queryValue().currentValue = 15
        wait_for("15 minutes", lambda: refresh.queryValue().currentValue == 15)
        act(named(sheet, pyatspi.ROLE_CHECK_BOX, "Wake the phone to refresh"), "Toggle", "Press")
        tab(sheet, "More options")
        choose(sheet, "Language", 1)  # English, Español
        assert "timer_notification_06" not in console("notifications"), console("notifications")
        act(named(sheet, push, "Save"), "Press")
        wait_for("the sheet closed", lambda: window(app, "Settings") is None)
        wait_for("the refresh wake-up", lambda: "timer_notification_06_00" in console("notifications"))
        due = [line for line in console("notifications").splitlines() if "timer_notification_06" in line]
        assert "2026-12-07 18:45" in due[0], due
        assert "The change takes effect the next time Telvane starts." in console("boxes"), console("boxes")
        assert console("reg", "get", "HKLM", SETTINGS_KEY, "language") == "es"

        # Removing the place removes its frame, its actions and its area.
        console("post", "MainWindow", WM_COMMAND, CMD_SETTINGS, "0")
        sheet = wait_for("the settings sheet again", lambda: window(app, "Settings"))
        tab(sheet, "Places")
        # The first place in name order is the one shown.
        wait_for("Gym on the places page", lambda: combo(sheet, "Places").name == "Gym")
        act(named(sheet, push, "Remove place"), "Press")
        wait_for("the place gone", lambda: "Gym" not in choices(sheet, "Places"))
        act(named(sheet, push, "Cancel"), "Press")
        wait_for("the sheet closed", lambda: window(app, "Settings") is None)
        os.remove(exported)
        console("file", "rm", "\\Telvane.xml")
        console("post", "MainWindow", WM_COMMAND, CMD_XML_EXPORT, "0")
        root = wait_for("the data file again", export_written).getroot()
        assert [p.get("name") for p in root.iter("place")] == ["Unknown"], ET.tostring(root)
        print("settings end-to-end: ok")
    except Exception:
        # What the program showed when the test failed.
        try:
            for top in (app.getChildAtIndex(i) for i in range(app.childCount)):
                for n in walk(top):
                    if n.getState().contains(pyatspi.STATE_SHOWING):
                        print(n.getRoleName(), repr(n.name), file=sys.stderr)
        except Exception:
            pass
        raise


if __name__ == "__main__":
    main()
