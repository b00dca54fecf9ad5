"""A desktop of a test's own for the launcher (pytest -p desktop): an X display, a window manager,
a session bus with the accessibility bus on it, and a default browser that records every address
it is asked to open. Nothing is shared with other tests or with the machine's own session."""

import signal

import dbus

from quav_testing import Process, run, wait_until

ACCESSIBLE = "org.a11y.atspi.Accessible"


def pytest_addoption(parser):
    parser.addoption("--launcher", required=True, help="the launcher executable under test")
    parser.addoption("--screenshot", required=True, help="where a picture of the ready window goes")


def pytest_configure(config):
    config.addinivalue_line("markers", "gtk: needs the GTK shell (single instance, packaging)")


class Desktop:
    def __init__(self, root, data_dirs=()):
        self.root = root
        (root / "data/applications").mkdir(parents=True)
        (root / "runtime").mkdir(mode=0o700)
        (root / "data/applications/recorder.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Recorder\n"
            f"Exec=sh -c 'echo \"$0\" >> {root}/opened' %u\n"
            "MimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n")
        (root / "mimeapps.list").write_text(
            "[Default Applications]\nx-scheme-handler/http=recorder.desktop\n")
        self.env = {"XDG_DATA_HOME": f"{root}/data", "XDG_CONFIG_HOME": str(root),
                    "XDG_CACHE_HOME": f"{root}/cache", "XDG_RUNTIME_DIR": f"{root}/runtime",
                    "XDG_DATA_DIRS": ":".join([*map(str, data_dirs), "/usr/share"]),
                    "GDK_BACKEND": "x11", "WAYLAND_DISPLAY": ""}
        self.helpers = []
        try:
            self._start()
        except BaseException:  # what did start is stopped
            self.__exit__()
            raise

    def _start(self):
        self.env["DISPLAY"] = ":" + self._start_and_read(
            "Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self._start_and_read(
            "dbus-daemon", "--session", "--nofork", "--print-address=1")
        # Now and then (about one start in a hundred here) openbox ends at once with status 1,
        # saying nothing; another start then works.
        for _ in range(3):
            self.helpers.append(openbox := Process(["openbox", "--sm-disable"], self.env))
            if wait_until(lambda: openbox.popen.poll() is not None or self._managed(), 30) and \
                    self._managed():
                break
        else:
            raise AssertionError(f"openbox did not start: {openbox.error}")
        # Programs join the accessibility registry only if it runs when they start.
        session = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])
        self.a11y = dbus.bus.BusConnection(session.get_object(
            "org.a11y.Bus", "/org/a11y/bus").GetAddress(dbus_interface="org.a11y.Bus"))
        session.close()
        self.registry = self.a11y.get_object("org.a11y.atspi.Registry",
                                             "/org/a11y/atspi/accessible/root")
        self.registry.GetChildren(dbus_interface=ACCESSIBLE)

    def _managed(self):
        """Whether a window manager runs on the display."""
        return "window id" in self.tool("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")[1]

    def _start_and_read(self, *argv):
        self.helpers.append(Process(argv, self.env))
        assert self.helpers[-1].wait_for("\n", timeout=30), f"{argv[0]}: {self.helpers[-1].error}"
        return self.helpers[-1].output.split("\n")[0]

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if hasattr(self, "a11y"):
            self.a11y.close()
        for helper in reversed(self.helpers):  # asked, so Xvfb removes its lock and socket
            helper.send_signal(signal.SIGTERM)
            helper.finish(5)
            helper.__exit__()

    def opened(self):
        """The addresses the browser was asked to open, in order."""
        return path.read_text().splitlines() if (path := self.root / "opened").exists() else []

    def tool(self, *argv):
        """Runs a desktop tool (xdotool, xprop, gio...) here; (status, output, error)."""
        return run(argv, env=self.env)

    def windows(self, *query):
        """The visible windows that xdotool search finds with `query` (--pid 42, --name x)."""
        return self.tool("xdotool", "search", "--onlyvisible", *map(str, query))[1].split()

    def widgets(self, pid):
        """What the process shows, as the accessibility bus tells: {(role, name, sensitive)}."""
        def visit(name, path):
            node = self.a11y.get_object(name, path)
            yield (str(node.GetRoleName(dbus_interface=ACCESSIBLE)),
                   str(node.Get(ACCESSIBLE, "Name", dbus_interface=dbus.PROPERTIES_IFACE)),
                   bool(node.GetState(dbus_interface=ACCESSIBLE)[0] & 1 << 24))  # sensitive
            for child in node.GetChildren(dbus_interface=ACCESSIBLE):
                yield from visit(*child)
        bus = self.a11y.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        try:
            return {widget for name, path in self.registry.GetChildren(dbus_interface=ACCESSIBLE)
                    if bus.GetConnectionUnixProcessID(name) == pid for widget in visit(name, path)}
        except dbus.DBusException:  # a window went while we looked
            return set()
