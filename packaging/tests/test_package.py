"""The Debian package as it reaches a user: built from this build, checked, unpacked without
installing anything on the machine, and a key file opened with it the way a file manager does, on
a desktop of the test's own."""

import base64
import re
import os
import signal
import urllib.request
from pathlib import Path

from desktop import Desktop
from quav_testing import run, wait_until

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
KEY = b'{"format": "quav-key", "version": 1, "key": "F#", "scale": "minor"}'


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
    share = root / "usr/share"
    entry = share / "applications/app.quav.Lab.desktop"
    assert '\nExec="/usr/bin/tone_launcher" %U\n' in entry.read_text()
    # What the package's triggers would do; the entry runs the launcher where it was unpacked.
    entry.write_text(entry.read_text().replace("/usr/bin/", f"{root}/usr/bin/"))
    assert run(["update-mime-database", share / "mime"])[0] == 0
    assert run(["update-desktop-database", share / "applications"])[0] == 0
    with Desktop(tmp_path / "desktop", [share]) as desktop:
        for name, known in [("song.quavkey", True), ("SONG.QUAVKEY", True), ("song.QuavKey", True),
                            ("song.json", False), ("song.quavkey.txt", False)]:
            (tmp_path / name).write_bytes(KEY)
            info = desktop.tool("gio", "info", "-a", "standard::content-type", tmp_path / name)
            assert ("content-type: application/x-quavkey\n" in info[1]) == known, name

        # The launcher started for the file must not hold on to the output the test reads.
        desktop.tool("sh", "-c", 'exec gio open "$0" > /dev/null 2>&1', tmp_path / "song.quavkey")
        assert (opened := wait_until(desktop.opened, 20)), "the lab did not open"
        lab = re.fullmatch(r"(http://127\.0\.0\.1:\d+/)#quav-key=(.*)", opened[0])
        assert lab and base64.urlsafe_b64decode(lab[2] + "==") == KEY and len(opened) == 1
        assert urllib.request.urlopen(lab[1], timeout=5).status == 200
        # The window shows the packaged icon, found beside the resources, not on the desktop's path.
        window = wait_until(lambda: desktop.windows("--name", "^QUAV Lab$"))[0]
        pid = int(desktop.tool("xdotool", "getwindowpid", window)[1])
        assert "Icon (16 x 16)" in desktop.tool("xprop", "-id", window, "_NET_WM_ICON")[1]
        processes = [pid, *Path(f"/proc/{pid}/task/{pid}/children").read_text().split()]  # server
        os.kill(pid, signal.SIGTERM)
        assert wait_until(lambda: not any(map(running, processes))), "the launcher or server stays"
