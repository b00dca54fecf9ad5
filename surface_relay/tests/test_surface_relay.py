"""The real relay on a private JACK server, played against by midi_peer."""

import os
import time

import pytest

from jack import (NO_SERVER, STACK, fails_on_pipewire,  # noqa: F401
                  jack, jack_server, pipewire_server, relay_with_peer, shared_relay, since)
from quav_testing import Process, run

NAME = "QUAV Pro Tools Test"
READY = f"{NAME} ports ready (heartbeats and DSP controls only).\n"
STARTUP = "".join(f"{step} status=0\n" for step in ("MIDIClientCreate", "MIDISourceCreate",
                  "MIDIDestinationCreate", "SetSourceID", "SetDestinationID"))
MODE, HEARTBEAT = "b00f1cb02f40\nb00f1cb02f00\n", "90007f\n"
# Once the relay has handled these, it has handled everything written before them; their
# bytes and log end no case's own.
SENTINEL, SENTINEL_SENT = "knob:4:-:63\nend\n", "b04b3f\n"
SENTINEL_LOG = "navigation=knob:4:-\nstatus=0\nnavigation=end\nstatus=-1\n"


def logged(line, status=0):
    return f"navigation={line}status={status}\n"


def attempt(number, status=0):
    return f"heartbeatReplyAttempt={number} MIDIReceivedStatus={status}\n"


session = shared_relay("surface_relay", READY, NAME)


COMMANDS = [
    *[(line, sent, logged(line)) for line, sent in [
        ("insert:1\n", "b00f00b02f46\nb00f00b02f06\n"), ("mode\n", MODE),
        ("insert:8\n", "b00f07b02f46\nb00f07b02f06\n"),
        ("assign\n", "b00f1cb02f41\nb00f1cb02f01\n"),
        ("select:1\n", "b00f1cb02f42\nb00f1cb02f02\n"),
        ("select:4\n", "b00f1cb02f45\nb00f1cb02f05\n"),
        # Knobs and pages; a count after one more colon is not logged.
        ("knob:1:+\n", "b04841\n"), ("knob:4:-\n", "b04b01\n"), ("page:+\n", "b04c41\n"),
        ("page:-\n", "b04c01\n")]],
    *[(line + count + "\n", sent, logged(line + "\n")) for line, count, sent in [
        ("knob:2:+", ":10", "b0494a\n"), ("knob:3:-", ":07", "b04a07\n"),
        ("knob:1:-", ":1", "b04801\n"), ("page:-", ":3", "b04c03\n"),
        ("page:+", ":63", "b04c7f\n"), ("page:-", ":63", "b04c3f\n")]],
    # The session's only heartbeat: a reply's first attempt is logged, then every twentieth.
    (HEARTBEAT, HEARTBEAT, attempt(1)),
    # Commands waiting during the hold follow the release.
    ("auto-status\nmode\n", "b00f19b02f42\nb00f19b02f02\n" + MODE,
     logged("auto-status\n") + logged("mode\n")),
    *[(line, "", logged(line, -1)) for line in [
        "insert:0\n", "insert:9\n", "insert:10\n", "select:0\n", "select:5\n", "knob:5:+\n",
        "knob:0:-\n", "knob:1:*\n", "page:*\n", "knob:2:+:x\n", "mode:3\n", "mode\r\n", "mode \n",
        " mode\n", "MODE\n", "Mode\n", "90007F\n", "90007f\r\n", "90007f \n", "insert:1 \n",
        "auto-status\r\n", "\n", "hello\n", "x" * 62 + "\n"]],
    # A count is taken off before matching.
    ("knob:9:+:5\n", "", logged("knob:9:+\n", -1)), ("page:7\n", "", logged("page\n", -1)),
    ("page:+:1:2\n", "", logged("page:+:1\n", -1)),
    # Unusable counts drop the line silently; in "knob:1+" the 1 after the colon is a count.
    *[(line, "", "") for line in [
        "knob:2:+:0\n", "knob:2:+:64\n", "page:+:00\n", "page:-:3x\n", "page:-:3 \n",
        "knob:1:+:5\r\n", "knob:1:+:" + "9" * 20 + "\n", "knob:1+\n"]],
    # Long lines are read in pieces of 63 characters, each a line by itself.
    ("x" * 63 + "xxxxxxx\n", "", logged("x" * 63, -1) + logged("xxxxxxx\n", -1)),
    ("x" * 63 + "\n", "", logged("x" * 63, -1) + logged("\n", -1)),
    ("x" * 63 + "mode\n", MODE, logged("x" * 63, -1) + logged("mode\n")),
]


@pytest.mark.parametrize("commands, sent, log", COMMANDS, ids=lambda value: repr(value)[:24])
def test_each_line_sends_its_bytes_and_is_logged(session, commands, sent, log):
    relay, peer = session
    relay.write(commands + SENTINEL)
    assert since(relay, SENTINEL_LOG, "error") == log + SENTINEL_LOG
    assert since(peer, SENTINEL_SENT) == sent + SENTINEL_SENT


# Once the server has gone every reply fails, and each failed attempt is logged. PipeWire only
# hints that it may have gone; the layer knows after 0.2 s without a cycle.
def test_every_heartbeat_reply_after_the_server_has_gone_fails(bin_dir):
    with jack_server() as env:
        relay = Process([bin_dir / "surface_relay"], env)
        since(relay, READY, "error")
    with relay:
        time.sleep(0.5)
        relay.write(HEARTBEAT * 100)
        assert relay.finish() == 0
    assert relay.error == STARTUP + READY + "".join(attempt(n, -10839) for n in range(1, 101))


# Standard streams closed at the start read as end of input and take what is written: JACK's
# files never get their numbers.
def test_closed_standard_streams_are_the_null_device(bin_dir, jack):
    relay = bin_dir / "surface_relay"
    assert run(["sh", "-c", 'exec "$0" <&-', relay], env=jack) == (0, "", STARTUP + READY)
    with Process(["sh", "-c", 'exec "$0" >&-', relay], jack) as running:
        since(running, READY, "error")
        assert os.readlink(f"/proc/{running.pid}/fd/1") == "/dev/null"
        assert running.finish() == 0


# Each runs on the test's own server unless it names another.
@pytest.mark.parametrize("commands, server, status, error", [
    ("", {}, 0, STARTUP + READY),
    ("knob:1:+:5", {}, 0, STARTUP + READY),  # a count on a last line without line feed
    ("mode\n", NO_SERVER, 1, "MIDIClientCreate status=-10839\n"),
])
def test_end_of_input_or_no_server_ends_the_run(bin_dir, jack, commands, server, status, error):
    # The input may end before the main thread has entered its run loop; the stop is not lost.
    for _ in range(3):
        assert run([bin_dir / "surface_relay"], commands, {**jack, **server}) == (status, "", error)


# A second copy finds the unique ID taken and ends; the first keeps its ports.
def test_a_second_copy_is_refused(bin_dir, jack):
    with Process([bin_dir / "surface_relay"], jack) as first:
        since(first, READY, "error")
        assert run([bin_dir / "surface_relay"], env=jack, timeout=15) == (
            1, "", STARTUP.split("SetSourceID")[0] + "SetSourceID status=-10843\n")
        assert first.finish() == 0 and first.error == STARTUP + READY


# Without a metadata store (PipeWire without its session manager) a unique ID can be neither
# published nor checked against other programs': setting it fails.
@pytest.mark.skipif(STACK != "pipewire", reason="jackd always keeps metadata")
def test_without_a_metadata_store_the_unique_id_is_not_set(bin_dir):
    with pipewire_server(session_manager=False) as env:
        assert run([bin_dir / "surface_relay"], env=env) == (
            1, "", STARTUP.split("SetSourceID")[0] + "SetSourceID status=-10845\n")


# The relay keeps printing host packets, one line per packet, while it holds a switch.
@fails_on_pipewire("PipeWire turns the host's ping, a velocity-0 note-on, into a note-off")
def test_the_relay_prints_while_holding_a_switch(bin_dir, jack):
    with relay_with_peer(bin_dir / "surface_relay", READY, NAME, jack) as (relay, peer):
        relay.write("auto-status\n")
        assert peer.wait_for("b00f19b02f42\n")
        pressed = time.monotonic()
        peer.write("900000\nf07e7f0601f7\n900000|903c64|b00f1cb02f40\n")
        printed = "900000\nf07e7f0601f7\n900000\n903c64\nb00f1cb02f40\n"
        assert since(relay, printed) == printed and "b00f19b02f02" not in peer.output
        assert peer.wait_for("b00f19b02f02\n")
        # JACK hands MIDI on once a period (5.3 ms): two arrivals can be that much closer.
        assert time.monotonic() - pressed >= 0.74
        # The last line, without a line feed, is no command.
        relay.write("mode\nassign")
        assert relay.finish() == 0
        assert since(peer, MODE) == "b00f19b02f42\nb00f19b02f02\n" + MODE
    assert relay.error == STARTUP + READY + logged("auto-status\n") + logged("mode\n") + (
        "navigation=assignstatus=-1\n")
