"""What the MIDI tests share: private JACK servers, and a relay with midi_peer connected to it.

A private server runs the dummy driver in synchronous mode: in the default asynchronous mode a
client that misses a cycle on these small machines has its MIDI read twice or not at all.
Clients end before their server, each cleanly: a client killed outright holds a synchronous
server up for seconds."""

import contextlib

import pytest

from quav_testing import Process, run, unique_name, wait_until


# What a client needs to reach a server no one runs, never starting one itself.
NO_SERVER = {"JACK_DEFAULT_SERVER": unique_name("quav-no-jack"), "JACK_NO_START_SERVER": "1"}


def jack_tool(env, *argv):
    """The output of one of JACK's command-line tools, such as lsp -A (ports and aliases)."""
    return run([f"/usr/bin/jack_{argv[0]}", *argv[1:]], env=env)[1]


@contextlib.contextmanager
def jack_server(name=None):
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
