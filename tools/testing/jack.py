"""What the MIDI tests share: private JACK servers, and a relay with midi_peer connected to it.

The server is jackd, or with --stack=pipewire (this file loaded as a plugin: -p jack) PipeWire
with WirePlumber, which JACK programs reach through PipeWire's libjack as `pw-jack` runs them.
A private jackd runs the dummy driver in synchronous mode: in the default asynchronous mode a
client that misses a cycle on these small machines has its MIDI read twice or not at all.
Clients end before their server, each cleanly: a client killed outright holds a synchronous
server up for seconds."""

import contextlib
import shutil
import tempfile
from pathlib import Path

import pytest

from quav_testing import Process, run, unique_name, wait_until

STACK = "jackd"  # what --stack says, once pytest has read it
PIPEWIRE_JACK = "/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack"  # what pw-jack puts first
# What a client needs to reach a server no one runs, never starting one itself; laid over a
# server's environment, so that it is the same libjack that finds nothing.
NO_SERVER = {"JACK_DEFAULT_SERVER": unique_name("quav-no-jack"), "JACK_NO_START_SERVER": "1",
             "PIPEWIRE_REMOTE": unique_name("quav-no-pipewire")}


def pytest_addoption(parser):
    parser.addoption("--stack", choices=["jackd", "pipewire"], default="jackd")


def pytest_configure(config):
    global STACK
    STACK = config.getoption("--stack")


def fails_on_pipewire(reason):
    return pytest.mark.xfail(STACK == "pipewire", reason=reason, strict=True)


def jack_tool(env, *argv):
    """The output of one of JACK's command-line tools, such as lsp -A (ports and aliases)."""
    return run([f"/usr/bin/jack_{argv[0]}", *argv[1:]], env=env)[1]


@contextlib.contextmanager
def jack_server(name=None):
    """A private server of the stack under test; the same `name` is the same server again."""
    with (pipewire_server if STACK == "pipewire" else jackd_server)(name) as env:
        yield env


@contextlib.contextmanager
def pipewire_server(name=None, session_manager=True):
    """PipeWire, and WirePlumber with the metadata store, on a session bus of their own, with a
    home, runtime, configuration and state folder of their own, removed at the end."""
    home = Path(tempfile.gettempdir(), name or unique_name("quav-pipewire"))
    home.mkdir(0o700, exist_ok=True)
    env = dict.fromkeys(["HOME", "XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"], str(home)) | {
        "DBUS_SESSION_BUS_ADDRESS": f"unix:path={home}/bus", "LD_LIBRARY_PATH": PIPEWIRE_JACK}
    with contextlib.ExitStack() as stack:  # killed at the end, in reverse order
        stack.callback(shutil.rmtree, home)
        bus = stack.enter_context(Process(["dbus-daemon", "--session", "--nofork",
                                           "--print-address", f"--address=unix:path={home}/bus"]))
        assert bus.wait_for("unix:"), bus.error
        server = stack.enter_context(Process(["pipewire"], env))
        # Ready once a JACK client connects, and WirePlumber (which ends at once when PipeWire
        # is not up yet) once it has set up its metadata store.
        assert wait_until(lambda: run(["/usr/bin/jack_lsp"], env=env)[0] == 0, 20), server.error
        if session_manager:
            manager = stack.enter_context(Process(["wireplumber"], env))
            assert wait_until(lambda: "Found" in run(["pw-metadata", "-n", "default"], env=env)[1],
                              20), manager.error
        yield env


@contextlib.contextmanager
def jackd_server(name=None):
    env = {**NO_SERVER, "JACK_DEFAULT_SERVER": (name := name or unique_name("quav-jack"))}
    with Process(["/usr/bin/jackd", "--no-realtime", "-S", "-n", name,
                  "-d", "dummy", "-r", "48000", "-p", "256"], env) as server:
        try:
            # jackd has no readiness signal of its own; a client that connects is the proof.
            assert wait_until(lambda: run(["/usr/bin/jack_lsp"], env=env)[0] == 0, 20), server.error
            yield env
        finally:
            # Asked, also when the test failed: a server killed outright keeps one of the eight
            # server slots in JACK's shared registry, and with all eight taken no server starts.
            server.popen.terminate()
            server.finish(30)


jack = pytest.fixture(jack_server.__wrapped__)


def since(process, end, stream="output", timeout=20.0):
    """Waits until what `process` wrote on `stream` after the previous call ends in `end`;
    returns that text."""
    seen = process.__dict__.setdefault("seen", {"output": 0, "error": 0})
    text = wait_until(lambda: (new := getattr(process, stream)[seen[stream]:]).endswith(end)
                      and new, timeout)
    assert text, f"no {end!r} in {getattr(process, stream)[seen[stream]:]!r}"
    seen[stream] += len(text)
    return text


def shared_relay(program, ready, port):
    """A fixture: one relay with midi_peer for a whole module, on a server of its own."""
    @pytest.fixture(scope="module")
    def relay(bin_dir):
        with jack_server() as env, relay_with_peer(bin_dir / program, ready, port, env) as pair:
            yield pair
    return relay


@contextlib.contextmanager
def relay_with_peer(relay_path, ready, port, env):
    """The relay until it writes `ready` on standard error, then midi_peer until it has
    connected to the relay's two ports named `port`."""
    with Process([relay_path], env) as relay:
        since(relay, ready, "error")
        with Process([relay_path.parent / "midi_peer", port], env) as peer:
            since(peer, "midi_peer: connected\n", "error")
            yield relay, peer
            relay.finish()
            peer.finish()
