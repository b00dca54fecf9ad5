#!/usr/bin/python3
"""Figures for the launcher on a private desktop, each beside the least a GTK 4 program does:

- from the server's readiness line to the start of the default browser's handler, for the
  launcher and for baseline.cpp reading the same line from a pipe (median and p95);
- from the launcher's start to its window on screen, and the same for a bare gtkmm window;
- the CPU time the launcher (and its guard) and the Lab server use over 20 s of idling.

Run by hand after a build: main/bench/launcher_bench.py [build folder, default build]."""

import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools/testing"))
from desktop import Desktop  # noqa: E402
from quav_testing import Process, wait_until  # noqa: E402

RUNS = 12
# Stands in for the Lab server: notes the time, then announces the lab a second after its start
# (once the program reading it is surely waiting), and ends on SIGINT.
SERVER = """#!/bin/sh
trap 'exit 0' INT TERM
sleep 1
date +%s.%N > "{root}/ready"
echo 'QUAV Tonvex is ready: http://127.0.0.1:4242/'
while :; do sleep 0.1; done
"""


def figures(name, seconds):
    ms = sorted(1000 * value for value in seconds)
    p95 = ms[min(len(ms) - 1, round(0.95 * (len(ms) - 1)))]
    print(f"  {name:<28} median {statistics.median(ms):7.1f} ms   p95 {p95:7.1f} ms"
          f"   (n={len(ms)})")


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def children(pid):
    return [int(child) for child in
            Path(f"/proc/{pid}/task/{pid}/children").read_text().split()]


def start(argv, env):
    """In a process group of its own, so stop() ends whatever it started too."""
    return Process(argv, env, start_new_session=True)


def stop(process):
    for number in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, number)
        except ProcessLookupError:
            break
        process.finish(10)
    process.__exit__()


class Bench(Desktop):
    def __init__(self, root, build):
        super().__init__(root)
        # The browser notes when it starts (%% is a % in a desktop entry's command).
        (root / "data/applications/recorder.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Recorder\n"
            f"Exec=sh -c 'date +%%s.%%N > {root}/now; mv {root}/now {root}/started' %u\n"
            "MimeType=x-scheme-handler/http;\nNoDisplay=true\n")
        (root / "bin").mkdir()
        self.launcher = shutil.copy(build / "bin/tone_launcher", root / "bin")
        server = root / "lib/quav-lab/backend/tonvex-server"
        server.parent.mkdir(parents=True)
        server.write_text(SERVER.format(root=root))
        server.chmod(0o755)
        self.baseline = root / "baseline"
        subprocess.run(["sh", "-c", 'g++ -std=c++20 -O2 "$0" -o "$1" '
                        "$(pkg-config --cflags --libs gtkmm-4.0)",
                        ROOT / "main/bench/baseline.cpp", self.baseline], check=True)

    def time_stamp(self, name):
        return float((self.root / name).read_text())

    def readiness_to_browser(self, argv):
        """Starts argv and waits for the browser; the seconds from readiness to its start."""
        for name in ("ready", "started"):
            (self.root / name).unlink(missing_ok=True)
        process = start(argv, self.env)
        assert wait_until(lambda: (self.root / "started").exists(), 20), process.error
        seconds = self.time_stamp("started") - self.time_stamp("ready")
        stop(process)
        return seconds

    def start_to_window(self, argv):
        """The seconds from starting argv until the window manager lists one more window."""
        with subprocess.Popen(["xprop", "-root", "-spy", "_NET_CLIENT_LIST"], env={
                **os.environ, **self.env}, stdout=subprocess.PIPE, text=True) as spy:
            windows = spy.stdout.readline().count("0x")
            began = time.time()
            process = start(argv, self.env)
            while (line := spy.stdout.readline()) and line.count("0x") <= windows:
                pass
            assert line, "no window"
            seconds = time.time() - began
            spy.kill()
        stop(process)
        return seconds


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build").resolve()
    with tempfile.TemporaryDirectory() as folder, Bench(Path(folder), build) as bench:
        server = bench.root / "lib/quav-lab/backend/tonvex-server"
        print("Readiness line to the browser's start:")
        figures("tone_launcher", [bench.readiness_to_browser([bench.launcher])
                                  for _ in range(RUNS)])
        figures("GTK 4 program on a pipe", [bench.readiness_to_browser(
            ["sh", "-c", '"$0" | "$1" open', server, bench.baseline]) for _ in range(RUNS)])

        print("Start to window on screen:")
        real = [build / "bin/tone_launcher"]
        figures("tone_launcher", [bench.start_to_window(real) for _ in range(RUNS)])
        figures("bare gtkmm window", [bench.start_to_window([bench.baseline, "window"])
                                      for _ in range(RUNS)])

        print("CPU time over 20 s of idling, once the lab is open:")
        (bench.root / "started").unlink(missing_ok=True)
        launcher = start(real, bench.env)
        assert wait_until(lambda: (bench.root / "started").exists(), 20), launcher.error
        time.sleep(1)
        processes = {"tone_launcher": launcher.pid}
        for child in children(launcher.pid):
            name = "Lab server" if "tonvex" in Path(f"/proc/{child}/cmdline").read_text() \
                else "guard"
            processes[name] = child
        before = {name: cpu_seconds(pid) for name, pid in processes.items()}
        time.sleep(20)
        for name, pid in processes.items():
            used = cpu_seconds(pid) - before[name]
            print(f"  {name:<28} {1000 * used:7.0f} ms   ({100 * used / 20:.2f} % of a core;"
                  f" counted in steps of {1000 // os.sysconf('SC_CLK_TCK')} ms)")
        stop(launcher)


if __name__ == "__main__":
    main()
