"""The Debian package as it reaches a user: built from this build, checked, unpacked without
installing anything on the machine, and its launcher run with its own Lab server on a desktop of
the test's own."""

import re
import signal
import urllib.request
from pathlib import Path

from desktop import Desktop
from quav_testing import Process, run, wait_until

PROGRAMS = ("tone_launcher", "surface_relay", "sysex_relay")
FILES = {*(f"usr/bin/{name}" for name in PROGRAMS), "usr/lib/quav-lab/backend/tonvex-server", *(
    f"usr/share/{name}" for name in ["applications/app.quav.Lab.desktop",
    "mime/packages/app.quav.Lab.xml", "metainfo/app.quav.Lab.metainfo.xml",
    "icons/hicolor/scalable/apps/app.quav.Lab.svg", "doc/quav-lab/copyright",
    "doc/quav-lab/changelog.gz", *(
        f"icons/hicolor/{size}x{size}/apps/app.quav.Lab.png"
        for size in (16, 24, 32, 48, 64, 128, 256))])}
LIBRARIES = ["libc6", "libstdc\\+\\+6", "libgtkmm-4.0-", "libjack-", "libcpp-httplib"]
# The programs take no options; the README tells how to use them, there are no manual pages.
LINTIAN = {f"W: quav-lab: no-manual-page [usr/bin/{name}]" for name in PROGRAMS}


def running(pid):
    try:
        return ") Z " not in Path(f"/proc/{pid}/stat").read_text()
    except FileNotFoundError:
        return False


def test_the_package_holds_what_a_user_needs_and_runs_unpacked(bin_dir, tmp_path):
    build = run(["cpack", "-G", "DEB", "-B", tmp_path, "--config",
                 bin_dir.parent / "CPackConfig.cmake"], timeout=240)
    assert build[0] == 0, build
    (package,) = tmp_path.glob("quav-lab_*_*.deb")
    listing = run(["dpkg-deb", "-c", package])[1].splitlines()
    assert {line.split()[-1][2:] for line in listing if line[0] == "-"} == FILES
    depends = run(["dpkg-deb", "-f", package, "Depends"])[1]
    assert all(re.search(rf"(^|, ){name}\S* \(>= ", depends) for name in LIBRARIES), depends
    assert set(run(["lintian", package], timeout=120)[1].splitlines()) == LINTIAN

    root = tmp_path / "root"
    assert run(["dpkg-deb", "-x", package, root])[0] == 0
    entry = root / "usr/share/applications/app.quav.Lab.desktop"
    assert '\nExec="/usr/bin/tone_launcher" %U\n' in entry.read_text()
    with Desktop(tmp_path / "desktop") as desktop, Process(
            [root / "usr/bin/tone_launcher"], desktop.env) as launcher:
        assert (opened := wait_until(desktop.opened, 20)), launcher.error
        assert re.fullmatch(r"http://127\.0\.0\.1:\d+/", opened[0])
        assert urllib.request.urlopen(opened[0], timeout=5).status == 200
        # The window shows the packaged icon, found beside the resources, not on the desktop's path.
        window = wait_until(lambda: desktop.windows("--pid", launcher.pid))[0]
        assert "Icon (16 x 16)" in desktop.tool("xprop", "-id", window, "_NET_WM_ICON")[1]
        children = Path(f"/proc/{launcher.pid}/task/{launcher.pid}/children").read_text().split()
        launcher.send_signal(signal.SIGTERM)
        assert launcher.finish(5) == 0 and children  # the server, gone with the launcher
        assert wait_until(lambda: not any(map(running, children)))
