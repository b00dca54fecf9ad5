"""The layer's in-process tests against a private JACK server, then the server they leave."""

import time

from jack import jack, jack_tool  # noqa: F401 (a fixture)
from quav_testing import run


def test_in_process_and_clients_left_open_are_closed_at_exit(bin_dir, jack):
    status, output, error = run([bin_dir / "coremidi_compat_jack_tests"], env=jack, timeout=120)
    assert status == 0, output + error
    # A client that vanished without closing holds a synchronous server up for about 5 s.
    started = time.monotonic()
    assert "Layer Exit" not in jack_tool(jack, "lsp", "-A") and time.monotonic() - started < 3
