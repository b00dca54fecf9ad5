"""What the process-level tests share: where the programs under test are, and a way to run one
and wait for what it writes. Loaded as a pytest plugin (pytest -p quav_testing)."""

import os
import subprocess
import threading
import time
import uuid
from pathlib import Path

import pytest


def pytest_addoption(parser):
    parser.addoption("--bin-dir", type=Path, required=True, help="the build's bin folder")


@pytest.fixture(scope="session")
def bin_dir(request):
    return request.config.getoption("--bin-dir")


def unique_name(prefix):
    """A name no other test process on this machine uses at the same time."""
    return f"{prefix}-{os.getpid()}-{uuid.uuid4().hex[:8]}"


def wait_until(condition, timeout=10.0):
    """Polls `condition` until it returns something true or `timeout` seconds pass; returns
    its last result."""
    deadline = time.monotonic() + timeout
    while not (result := condition()) and time.monotonic() < deadline:
        time.sleep(0.02)
    return result


class Process:
    """A program with pipes on its three standard streams. Its output is collected as it comes,
    so a test waits for the text it expects with a deadline instead of sleeping. Leaving the
    `with` block kills it if it still runs."""

    def __init__(self, argv, env=None, **popen_arguments):
        self.popen = subprocess.Popen(
            [str(part) for part in argv], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env={**os.environ, **(env or {})}, **popen_arguments)
        self.pid = self.popen.pid
        self.output = self.error = ""
        self._changed = threading.Condition()
        # Daemon threads: a grandchild that keeps a pipe open must not hold the test up.
        self._collectors = [threading.Thread(target=self._collect, args=(stream, name), daemon=True)
                            for stream, name in ((self.popen.stdout, "output"),
                                                 (self.popen.stderr, "error"))]
        for collector in self._collectors:
            collector.start()

    def _collect(self, stream, name):
        for chunk in iter(lambda: os.read(stream.fileno(), 65536), b""):
            with self._changed:
                setattr(self, name, getattr(self, name) + chunk.decode(errors="replace"))
                self._changed.notify_all()

    def wait_for(self, text, stream="output", timeout=10.0):
        """Waits until `text` appears on standard output (or "error"); tells whether it did."""
        with self._changed:
            return self._changed.wait_for(lambda: text in getattr(self, stream), timeout)

    def write(self, data):
        self.popen.stdin.write(data.encode() if isinstance(data, str) else data)
        self.popen.stdin.flush()

    def close_input(self):
        self.popen.stdin.close()

    def send_signal(self, number):
        self.popen.send_signal(number)

    def finish(self, timeout=10.0):
        """Closes the input, waits for the exit and the rest of the output; returns the exit
        status (negative for a signal), or None if it is still running after `timeout`."""
        self.close_input()
        try:
            status = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        for collector in self._collectors:
            collector.join(1.0)
        return status

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if self.popen.poll() is None:
            self.popen.kill()
        self.finish()
        self.popen.stdout.close()
        self.popen.stderr.close()


def run(argv, input="", env=None, timeout=30.0):
    """Runs a program to its end; returns (exit status, output, error)."""
    with Process(argv, env) as process:
        process.write(input)
        return process.finish(timeout), process.output, process.error
