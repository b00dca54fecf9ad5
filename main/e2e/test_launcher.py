"""The launcher as a user meets it, on a desktop of its own (tools/testing/desktop.py), against a
stand-in server that records what it receives. Tests marked gtk use what only the GTK shell has;
another shell runs the rest with -m "not gtk"."""

import base64
import os
import shutil
import signal

import pytest

from desktop import Desktop
from quav_testing import Process, wait_until

ADDRESS = "http://127.0.0.1:4242/lab/"
READY = "Ready. Audio stays on this Mac. Quit this app when you’re finished."
STOPPED = "QUAV Lab stopped. Quit and reopen this app to restart."
KEY = b'{\n  "scale": "major",\n  "key": "Bb",\n  "version": 1.0,\n  "format": "quav-key"\n}\n'
ARGUMENTS = "--no-browser\n--port\n0\n"
OPEN = ("button", "Open QUAV Lab")  # and whether it is enabled


def key_address(key, address=ADDRESS):
    return address + "#quav-key=" + base64.urlsafe_b64encode(key).rstrip(b"=").decode()


class Lab(Desktop):
    """A desktop with the launcher copied to an installation of its own (it finds the server
    beside itself) whose server announces the lab, records its arguments and each SIGINT, and
    outlives the launcher: it waits while a file "hold" exists, and ends once a file "stop" does."""

    def __init__(self, root, launcher):
        super().__init__(root)
        (root / "bin").mkdir()
        self.launcher = shutil.copy(launcher, root / "bin")
        script = root / "lib/quav-lab/backend/tonvex-server"
        script.parent.mkdir(parents=True)
        script.write_text(
            f"#!/bin/sh\ncd '{root}'\necho $$ > server.pid\nprintf '%s\\n' \"$@\" > arguments\n"
            "trap 'echo INT >> signals' INT\nwhile [ -e hold ]; do sleep 0.1; done\n"
            f"echo 'QUAV Tonvex is ready: {ADDRESS}'\nuntil [ -e stop ]; do sleep 0.1; done\n")
        script.chmod(0o755)

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

    def shows(self, launcher, *widgets, timeout=10):
        return wait_until(lambda: set(widgets) <= self.widgets(launcher.pid), timeout)

    def __exit__(self, *_):
        self.write("stop")
        super().__exit__()


@pytest.fixture
def lab(request, tmp_path):
    with Lab(tmp_path, request.config.getoption("--launcher")) as made:
        yield made


@pytest.mark.parametrize("key, address", [(None, ADDRESS), ("song.QuavKey", key_address(KEY))])
def test_opens_the_lab_once_at_readiness_with_a_key_file_given(lab, key, address):
    lab.launch(*([lab.write(key, KEY)] if key else []))
    assert lab.ready() and not wait_until(lambda: len(lab.opened()) > 1, 0.5)
    assert (lab.opened(), lab.text("arguments")) == ([address], ARGUMENTS)


# Ctrl+Q is the quit item's key; Alt+F4 has the window manager close the window; the signals
# go to the launcher's process group, as from a terminal (Ctrl-C, hangup, kill -9 %1), a plain
# kill or logging out. SIGKILL is the launcher's death without quitting.
WAYS = ["ctrl+q", "alt+F4", signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL]


@pytest.mark.parametrize("way, alert", [(way, False) for way in WAYS] + [
    (way, True) for way in WAYS if way != "alt+F4"],  # which would close the alert
    ids=lambda value: getattr(value, "name", "alert open" if value is True else str(value)))
def test_the_server_gets_one_sigint_however_the_launcher_ends(lab, way, alert):
    launcher = lab.launch(*[lab.write("rejected.quavkey")] if alert else [])
    assert lab.ready()
    if isinstance(way, str):
        main = wait_until(lambda: lab.windows("--name", "^QUAV Lab$"))[0]
        window = wait_until(lambda: (set(lab.windows("--pid", launcher.pid)) - {main}) if alert
                            else {main}).pop()
        lab.tool("xdotool", "windowactivate", "--sync", window, "key", "--clearmodifiers", way)
    else:
        os.killpg(launcher.pid, way)
    assert launcher.finish(5) == (-way if way == signal.SIGKILL else 0)
    assert wait_until(lambda: lab.text("signals") == "INT\n")
    assert not wait_until(lambda: lab.text("signals") != "INT\n", 0.3)
    os.kill(int(lab.text("server.pid")), 0)  # the server was meant to outlive the launcher


def test_a_rejected_key_file_shows_a_modal_alert_and_opens_no_key(lab):
    launcher = lab.launch(lab.write("song.quavkey", b'{"format": "quav-key"}'))
    assert (windows := wait_until(
        lambda: len(found := lab.windows("--pid", launcher.pid)) == 2 and found)), "no alert"
    assert sum("_MODAL" in lab.tool("xprop", "-id", w, "_NET_WM_STATE")[1] for w in windows) == 1
    lab.tool("xdotool", "key", "Return")
    assert wait_until(lambda: len(lab.windows("--pid", launcher.pid)) == 1)
    assert lab.ready() and not wait_until(lambda: lab.opened() != [ADDRESS], 0.5)


@pytest.mark.gtk
def test_the_status_line_and_open_button_follow_the_server(lab):
    lab.write("hold")
    launcher = lab.launch()
    # The title bar offers the window's controls: the primary menu, minimize and close.
    controls = [("button", name, True) for name in ("gtkmm__GtkMenuButton", "Minimize", "Close")]
    assert lab.shows(launcher, ("label", "Starting QUAV Lab…", True), (*OPEN, False), *controls)
    (lab.root / "hold").unlink()
    assert lab.shows(launcher, ("label", READY, True), (*OPEN, True))
    lab.write("stop")
    assert lab.shows(launcher, ("label", STOPPED, True), (*OPEN, False))


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
    assert lab.shows(first, ("label", "This key file could not be opened.", True), (
        "label", "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune.", True))
    lab.tool("xdotool", "key", "Return")
    assert later.finish() == 0
    assert not wait_until(lambda: len(lab.opened()) > 3, 0.5) and lab.text("arguments") == ARGUMENTS
