"""The real relay on a private JACK server, with midi_peer playing the DAW."""

import signal
import time

import pytest

from jack import (NO_SERVER, STACK, fails_on_pipewire,  # noqa: F401
                  jack, jack_server, jack_tool, shared_relay, since)
from quav_testing import Process, run, unique_name, wait_until

READY = "Local QUAV Tonvex MIDI endpoints ready.\n"
SENTINEL = "f07d51554156017ef7\n"


def signed(size, seed=0):
    """A signed SysEx message of `size` bytes (at least 8) as lowercase hex."""
    body = "".join(f"{(seed * 31 + at * 7) & 0x7F:02x}" for at in range(7, size - 1))
    return f"f07d5155415601{body}f7"


session = shared_relay("sysex_relay", READY, "QUAV Tonvex")


# Each runs on the test's own server unless it names another.
@pytest.mark.parametrize("prefix, server, status, error", [
    ([], {}, 0, READY),
    ([], NO_SERVER, 1, "Could not open local MIDI connection.\n"),
    # A stack limit of 1 TiB becomes the default stack of new threads, which cannot be mapped.
    pytest.param(["/usr/bin/prlimit", "--stack=1099511627776"], {}, 1,
                 "Could not start reading standard input.\n", marks=fails_on_pipewire(
                     "PipeWire's libjack starts threads of its own when the client opens")),
])
def test_empty_input_or_failed_start_ends_the_run(bin_dir, jack, prefix, server, status, error):
    assert run(prefix + [bin_dir / "sysex_relay"], env={**jack, **server}) == (status, "", error)
    assert "QUAV Tonvex" not in jack_tool(jack, "lsp")


TEN = "f07d51554156011234f7"  # the 10-byte example
SHORTEST, REST, LONGEST = "f07d5155415601f7", "f07d51554156012af7", signed(2048, 5)  # 4096 digits
ACCEPTED = [
    (TEN + "\n", TEN), (TEN + "\r\n", TEN), (TEN.upper() + "\n", TEN), (TEN.upper() + "\r\n", TEN),
    ("f07D5155415601F7\n", SHORTEST), (SHORTEST + "\rnot read\n", SHORTEST),
    (LONGEST + "\n", LONGEST),
    ("f07d51554156011gf7\n", "f07d515541560101f7"),  # a pair reads up to its first non-digit
    # The first 8191 characters are one piece, too long; the rest is a line of its own.
    ("a" * 8191 + REST + "\n", REST),
]
DROPPED = [
    "", "f07", "f07d5155415601", "f07d5155415601f", signed(2049), "f07e5155415601f7",
    "f07d5155415701f7", "f07d5155415602f7", "f07d5155415601123400", "f07d5155415601f734f7",
    "f07d5155415601f034f7", "f07d51554156018034f7", "f07d5155415601ggf7", "f07d5155415601g1f7",
    "hello, relay!",
]


@pytest.mark.parametrize("line, printed", ACCEPTED + [(line + "\n", "") for line in DROPPED],
                         ids=lambda value: repr(value)[:24])
def test_each_line_leaves_as_one_packet_or_not_at_all(session, line, printed):
    relay, peer = session
    # The sentinel goes out after the line would have: only the sentinel may follow it.
    relay.write(line + SENTINEL)
    assert since(peer, SENTINEL) == (printed and printed + "\n") + SENTINEL
    assert relay.error == READY


@pytest.mark.parametrize("events", [
    "903c40", "B00F00B02F46", "f07e7f0601f7", signed(2048, 9), signed(8192, 3),
    "903c40|803c00",  # two events sent in one period: a line each, never merged
], ids=lambda value: value[:24])
def test_each_packet_list_becomes_one_line(session, events):
    relay, peer = session
    peer.write(events + "\n")
    lines = events.lower().replace("|", "\n") + "\n"
    assert since(relay, lines) == lines


def test_endpoints_show_name_unique_id_and_manufacturer(bin_dir, jack):
    with Process([bin_dir / "sysex_relay"], jack) as relay:
        since(relay, READY, "error")
        # PipeWire keeps no aliases; the pretty names below are what names the ports there.
        aliases = "QUAV Tonvex:source\n   QUAV Tonvex\nQUAV Tonvex:destination\n   QUAV Tonvex\n"
        assert STACK == "pipewire" or aliases in jack_tool(jack, "lsp", "-A")
        for port, unique_id in (("source", 0x51554131), ("destination", 0x51554132)):
            listed = jack_tool(jack, "property", "-l", "--port", f"QUAV Tonvex:{port}")
            if "pretty-name" not in listed:
                pytest.skip("another JACK server of this user reset the metadata store")
            for entry in ("pretty-name value: QUAV Tonvex ", f"uniqueID value: {unique_id} ",
                          "manufacturer value: QUAV Tonvex "):
                assert entry in listed
        assert relay.finish() == 0


# With its reader gone the relay ends by SIGPIPE on its next line, as a shell pipeline expects.
def test_a_reader_gone_ends_the_relay(bin_dir, jack):
    pipeline = ["bash", "-c", '"$0" | true; echo "${PIPESTATUS[0]}"', bin_dir / "sysex_relay"]
    with Process(pipeline, jack) as relay:
        since(relay, READY, "error")
        with Process([bin_dir / "midi_peer", "QUAV Tonvex"], jack) as peer:
            since(peer, "midi_peer: connected\n", "error")
            peer.write("903c40\n")
            assert relay.wait_for(f"{128 + signal.SIGPIPE}\n")
            peer.finish()


# Ctrl-C or kill closes the JACK client before the relay ends by the signal: the synchronous
# server would otherwise stall every client for seconds, waiting for the vanished one.
@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM], ids=lambda n: n.name)
def test_a_stop_signal_closes_the_client_first(bin_dir, jack, number):
    with Process([bin_dir / "sysex_relay"], jack) as relay:
        since(relay, READY, "error")
        relay.send_signal(number)
        assert relay.popen.wait(10) == -number  # with its input still open
    started = time.monotonic()
    assert "QUAV Tonvex" not in jack_tool(jack, "lsp") and time.monotonic() - started < 2


# A relay outlives a restart of its server: its ports come back under the same names, with the
# same unique IDs, and serve both ways.
def test_the_relay_serves_again_after_its_server_restarts(bin_dir):
    name = unique_name("quav-jack")
    with jack_server(name) as env:
        relay = Process([bin_dir / "sysex_relay"], env)
        since(relay, READY, "error")
    with relay, jack_server(name):
        listed = wait_until(lambda: "uniqueID value: 1364541745 " in jack_tool(
            env, "property", "-l", "--port", "QUAV Tonvex:source"))
        assert listed and "QUAV Tonvex:destination" in jack_tool(env, "lsp")
        with Process([bin_dir / "midi_peer", "QUAV Tonvex"], env) as peer:
            since(peer, "midi_peer: connected\n", "error")
            relay.write(TEN + "\n")
            assert since(peer, TEN + "\n") == TEN + "\n"
            peer.write("903c40\n")
            assert since(relay, "903c40\n") == "903c40\n"
            peer.finish()
        assert relay.finish() == 0
