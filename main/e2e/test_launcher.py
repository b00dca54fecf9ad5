"""The launcher as a user meets it, on a desktop of its own (tools/testing/desktop.py), against a
stand-in server that records what it receives. Each shell runs this module: the GTK one (the
tone_launcher program) all of it, the GNUstep build of the AppKit shell (an application wrapper,
QUAV Lab.app) what is not marked gtk."""

import base64
import difflib
import os
import re
import shutil
import signal
from pathlib import Path

import pytest

from desktop import Desktop
from quav_testing import Process, wait_until

ADDRESS = "http://127.0.0.1:4242/lab/"
READY = "Ready. Audio stays on this Mac. Quit this app when you’re finished."
STOPPED = "QUAV Lab stopped. Quit and reopen this app to restart."
KEY = b'{\n  "scale": "major",\n  "key": "Bb",\n  "version": 1.0,\n  "format": "quav-key"\n}\n'
ARGUMENTS = "--no-browser\n--port\n0\n"


def key_address(key, address=ADDRESS):
    return address + "#quav-key=" + base64.urlsafe_b64encode(key).rstrip(b"=").decode()


def words(text):
    """Text as read off a screen: its words, without the punctuation that reading can miss."""
    return " ".join(re.findall(r"\w+", text))


def reads_as(expected, text):
    """Whether `text`, read off a screen, holds `expected` but for a misread letter or two."""
    expected, text = words(expected), words(text)
    return any(difflib.SequenceMatcher(None, expected, text[i:i + len(expected)]).ratio() >= 0.9
               for i in range(len(text) - len(expected) + 1))


class Lab(Desktop):
    """A desktop with the launcher copied to an installation of its own (it finds the server
    where it was installed) whose server announces the lab, records its arguments and each
    SIGINT, and outlives the launcher: it waits while a file "hold" exists, and ends once a file
    "stop" does."""

    def __init__(self, root, launcher, screenshot):
        super().__init__(root)
        self.screenshot = screenshot
        app = Path(launcher).parent
        self.gnustep = app.suffix == ".app"
        if self.gnustep:  # the server lies in the wrapper's Resources; Alt is the Command key
            self.launcher = shutil.copytree(app, root / app.name) / Path(launcher).name
            self.server = root / app.name / "Resources/backend/tonvex-server"
            self.quit_key = "alt+q"
        else:
            (root / "bin").mkdir()
            self.launcher = Path(shutil.copy(launcher, root / "bin"))
            self.server = root / "lib/quav-lab/backend/tonvex-server"
            self.server.parent.mkdir(parents=True)
            self.quit_key = "ctrl+q"
        self.server.write_text(
            f"#!/bin/sh\ncd '{root}'\necho $$ > server.pid\nprintf '%s\\n' \"$@\" > arguments\n"
            "trap 'echo INT >> signals' INT\nwhile [ -e hold ]; do sleep 0.1; done\n"
            f"echo 'QUAV Tonvex is ready: {ADDRESS}'\nuntil [ -e stop ]; do sleep 0.1; done\n")
        self.server.chmod(0o755)

    def write(self, name, content=b""):
        (self.root / name).write_bytes(content)
        return self.root / name

    def text(self, name):
        return (self.root / name).read_text() if (self.root / name).exists() else ""

    def launch(self, *files):
        """The launcher leads a process group, as a terminal's job does."""
        self.helpers.append(  # ended with the desktop
            Process([self.launcher, *files], self.env, start_new_session=True))
        return self.helpers[-1]

    def ready(self, count=1):
        return wait_until(lambda: len(self.opened()) >= count)

    def launcher_windows(self):
        """The launcher's windows on screen, without the menu bar that GNUstep docks at the top
        of the screen. GNUstep's windows carry no process ID: they are found by program name."""
        return [window for window in self.windows("--classname", f"^{self.launcher.name}$")
                if "DOCK" not in self.tool("xprop", "-id", window, "_NET_WM_WINDOW_TYPE")[1]]

    def main_windows(self):
        """The launcher's windows titled "QUAV Lab", once there is one: its window, and whatever
        else GNUstep may title so."""
        return wait_until(lambda: set(self.launcher_windows()) & set(
            self.windows("--name", "^QUAV Lab$")))

    def main_window(self):
        return self.main_windows().pop()

    def read_window(self):
        """The words the launcher's windows show, read off a picture of each at three times its
        size, where the text reader reads them best."""
        self.read = ""
        for window in self.main_windows():
            picture = self.root / f"window-{window}.png"
            self.tool("import", "-window", window, "-resize", "300%", picture)
            self.read += f"[{window}] " + self.tool("tesseract", picture, "-")[1]
        return self.read

    def shows(self, launcher, status, opens):
        """Whether the window comes to show a status line that starts with `status`, and the
        open button enabled if `opens`. GTK's window is read through the accessibility bus.
        GNUstep has no bridge to it: its status line is read off the window's picture, and its
        button's state is left to the unit tests."""
        if self.gnustep:
            if wait_until(lambda: reads_as(status, self.read_window()), 30):
                return True
            print("The window read:", self.read)  # shown with the failure
            return False
        return wait_until(lambda: ("button", "Open QUAV Lab", opens) in (
            shown := self.widgets(launcher.pid)) and any(
            role == "label" and name.startswith(status) for role, name, _ in shown))

    def __exit__(self, *_):
        self.write("stop")
        super().__exit__()


@pytest.fixture
def lab(request, tmp_path):
    with Lab(tmp_path, *map(request.config.getoption, ("--launcher", "--screenshot"))) as made:
        yield made


# Two files at once are no key file: the lab opens without one.
@pytest.mark.parametrize("keys, address", [
    ([], ADDRESS), (["song.QuavKey"], key_address(KEY)), (["a.quavkey", "b.quavkey"], ADDRESS)])
def test_opens_the_lab_once_at_readiness_with_key_files_given(lab, keys, address):
    lab.launch(*[lab.write(key, KEY) for key in keys])
    assert lab.ready() and not wait_until(lambda: len(lab.opened()) > 1, 0.5)
    assert (lab.opened(), lab.text("arguments")) == ([address], ARGUMENTS)


# The quit item's key (Ctrl+Q on GTK, Alt+Q on GNUstep); Alt+F4 has the window manager close the
# window; the signals go to the launcher's process group, as from a terminal (Ctrl-C, hangup,
# kill -9 %1), a plain kill or logging out. SIGKILL is the launcher's death without quitting,
# which only the GTK shell answers.
WAYS = ["quit key", "alt+F4", signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL]


@pytest.mark.parametrize("way, alert", [
    pytest.param(way, alert, marks=[pytest.mark.gtk] * (way == signal.SIGKILL))
    for alert in (False, True) for way in WAYS
    if not (alert and way == "alt+F4")],  # which would close the alert
    ids=lambda value: getattr(value, "name", "alert open" if value is True else str(value)))
def test_the_server_gets_one_sigint_however_the_launcher_ends(lab, way, alert):
    launcher = lab.launch(*[lab.write("rejected.quavkey")] if alert else [])
    assert lab.ready()
    if isinstance(way, str):
        shown = wait_until(lambda: len(found := lab.launcher_windows()) == 1 + alert and found)
        window = (set(shown) - {lab.main_window()} if alert else set(shown)).pop()
        key = lab.quit_key if way == "quit key" else way
        lab.tool("xdotool", "windowactivate", "--sync", window, "key", "--clearmodifiers", key)
    else:
        os.killpg(launcher.pid, way)
    assert launcher.finish(5) == (-way if way == signal.SIGKILL else 0)
    assert wait_until(lambda: lab.text("signals") == "INT\n")
    assert not wait_until(lambda: lab.text("signals") != "INT\n", 0.3)
    os.kill(int(lab.text("server.pid")), 0)  # the server was meant to outlive the launcher


def test_a_rejected_key_file_shows_a_modal_alert_and_opens_no_key(lab):
    lab.launch(lab.write("song.quavkey", b'{"format": "quav-key"}'))
    assert (windows := wait_until(
        lambda: len(found := lab.launcher_windows()) == 2 and found)), "no alert"
    assert sum("_MODAL" in lab.tool("xprop", "-id", w, "_NET_WM_STATE")[1] for w in windows) == 1
    lab.tool("xdotool", "key", "Return")
    assert wait_until(lambda: len(lab.launcher_windows()) == 1)
    assert lab.ready() and not wait_until(lambda: lab.opened() != [ADDRESS], 0.5)


def test_the_status_line_and_open_button_follow_the_server(lab):
    lab.write("hold")
    launcher = lab.launch()
    assert lab.shows(launcher, "Starting QUAV Lab…", opens=False)
    (lab.root / "hold").unlink()
    assert lab.shows(launcher, READY, opens=True)
    lab.tool("import", "-window", lab.main_window(), lab.screenshot)
    lab.write("stop")
    assert lab.shows(launcher, STOPPED, opens=False)


def test_a_server_that_cannot_start_is_reported(lab):
    lab.server.chmod(0o644)
    assert lab.shows(lab.launch(), "Could not start QUAV Lab: ", opens=False)
    assert not lab.opened()


@pytest.mark.gtk
def test_the_title_bar_offers_the_menu_minimize_and_close(lab):
    launcher = lab.launch()
    controls = {("button", name, True) for name in ("gtkmm__GtkMenuButton", "Minimize", "Close")}
    assert wait_until(lambda: controls <= lab.widgets(launcher.pid))


@pytest.mark.gtk
def test_later_launches_hand_their_files_to_the_first_or_bring_it_back(lab):
    first = lab.launch()
    assert lab.ready()
    lab.tool("xdotool", "windowminimize", "--sync", lab.windows("--pid", first.pid)[0])
    assert wait_until(lambda: not lab.windows("--pid", first.pid))
    assert lab.launch().finish() == 0
    assert wait_until(lambda: len(lab.windows("--pid", first.pid)) == 1)
    assert lab.ready(2) and lab.opened() == [ADDRESS, ADDRESS]

    assert lab.launch(lab.write("song.QUAVKEY", KEY)).finish() == 0
    assert lab.ready(3) and lab.opened()[2] == key_address(KEY)

    later = lab.launch(lab.write("bad.quavkey", b"[]"))
    alert = {("label", "This key file could not be opened.", True), (
        "label", "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune.", True)}
    assert wait_until(lambda: alert <= lab.widgets(first.pid))
    lab.tool("xdotool", "key", "Return")
    assert later.finish() == 0
    assert not wait_until(lambda: len(lab.opened()) > 3, 0.5) and lab.text("arguments") == ARGUMENTS
