"""tonvex-server as a process: its readiness line, pages, Host check, stop and failed starts; and
the lab page in headless Chromium."""

import base64
import ctypes
import http.client
import json
import os
import re
import signal
import socket

import pytest

from quav_testing import Process, run, wait_until

READINESS = re.compile(r"QUAV Tonvex is ready: http://127\.0\.0\.1:([1-9][0-9]{0,4})/\n")


class Server(Process):
    """The server, started and announced: its readiness line is all it has written."""

    def __init__(self, bin_dir, *arguments):
        self.argv = [bin_dir.parent / "lib/quav-lab/backend/tonvex-server", "--no-browser"]
        super().__init__([*self.argv, *(arguments or ["--port", "0"])])
        wait_until(lambda: "\n" in self.output or self.error)
        self.port = int(READINESS.fullmatch(self.output)[1])

    def get(self, path, method="GET"):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.request(method, path)
        return (response := connection.getresponse()).status, response.headers, response.read()


@pytest.fixture
def server(bin_dir):
    with Server(bin_dir) as started:
        yield started


def test_serves_get_and_head_for_its_two_pages_and_nothing_else(server):
    for path, contents in [
            ("/", ["Find the key. Keep your audio local.", 'id="key"']),
            ("/?from=launcher", ['id="key-message"']),
            ("/CONNECT.html", ["&ldquo;QUAV Pro Tools Test&rdquo;", "&ldquo;QUAV Tonvex&rdquo;",
                               "jack_connect", "pw-jack"])]:
        status, headers, body = server.get(path)
        assert (status, headers["Content-Type"]) == (200, "text/html; charset=utf-8")
        assert body.startswith(b"<!DOCTYPE html>") and all(c.encode() in body for c in contents)
        # Nothing on the pages may reach anywhere, so the key in the fragment stays in the page.
        assert headers["Content-Security-Policy"] == (
            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
            "base-uri 'none'; form-action 'none'; frame-ancestors 'none'")
        status, headers, head_body = server.get(path, "HEAD")
        assert (status, head_body, headers["Content-Length"]) == (200, b"", str(len(body)))
    for path, method in [("/", "POST"), *((path, "GET") for path in [
            "/index.html", "/lab.html", "/connect.html", "/CONNECTxhtml", "/CONNECT.html/",
            "/CONNECT.htm", "//CONNECT.html", "/pages/CONNECT.html", "/../../etc/passwd"])]:
        assert server.get(path, method)[0] == 404, path


def test_answers_only_requests_for_the_announced_host(server):
    announced = f"Host: 127.0.0.1:{server.port}\r\n"
    for headers, status in [(announced, 200), (f"Host: localhost:{server.port}\r\n", 403),
                            ("", 403), (announced + "Host: rebound.example\r\n", 403)]:
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as connection:
            connection.sendall(f"GET / HTTP/1.1\r\n{headers}Connection: close\r\n\r\n".encode())
            assert connection.recv(12) == f"HTTP/1.1 {status}".encode(), headers


# A browser keeps idle connections open for seconds; they must not hold the server up, nor its
# port when it is started again.
@pytest.mark.parametrize("number", [signal.SIGINT, signal.SIGTERM], ids=["SIGINT", "SIGTERM"])
def test_a_signal_ends_the_server_at_once_despite_an_open_connection(bin_dir, server, number):
    with socket.create_connection(("127.0.0.1", server.port)):
        assert server.get("/")[0] == 200 and server.get("/missing")[::2] == (404, b"Not found\n")
        server.send_signal(number)
        assert server.finish(3) == 0
    assert READINESS.fullmatch(server.output) and server.error == ""
    with Server(bin_dir, "--port", str(server.port)) as again:
        assert again.port == server.port


def test_a_failed_start_says_why_in_one_line_and_announces_nothing(server):
    full = ["sh", "-c", 'exec "$@" >/dev/full', "sh"]  # no room for the readiness line
    with socket.create_server(("127.0.0.1", 0)) as occupant:
        # Not even a server of its own may share the port.
        for prefix, port, expected in [([], "12ab", 2), ([], occupant.getsockname()[1], 1),
                                       ([], server.port, 1), (full, 0, 1)]:
            status, out, err = run([*prefix, *server.argv, "--port", str(port)])
            assert (status, out, err.count("\n"), err[-1:]) == (expected, "", 1, "\n"), err


# A server whose listening socket fails says so and ends, rather than run on serving nobody.
def test_a_server_that_can_no_longer_accept_ends(server):
    sockets = [fd for fd in os.listdir(f"/proc/{server.pid}/fd")
               if os.readlink(f"/proc/{server.pid}/fd/{fd}").startswith("socket:")]
    # System call 438, pidfd_getfd, copies a descriptor of another process.
    stolen = ctypes.CDLL(None).syscall(438, os.pidfd_open(server.pid), int(*sockets), 0)
    socket.socket(fileno=stolen).shutdown(socket.SHUT_RDWR)
    assert server.finish() == 1 and server.error.endswith(": stopped accepting connections\n")


def key(data=b"", **members):
    """The fragment of a key file: `data`, or a valid key with `members` changed or added."""
    data = data or json.dumps({"format": "quav-key", "version": 1, "key": "D", "scale": "major",
                               **members}).encode()
    return "#quav-key=" + base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def test_the_lab_page_shows_the_key_of_the_fragment_or_says_why_not(server, tmp_path):
    none, valid, unreadable = "Open a .quavkey file", "From your", "no readable QUAV key"
    # The second key as an editor may save it: a byte order mark, line breaks, another order.
    for fragment, shown, message in [
            ("", "", none), ("#top", "", none), (key(key="C#", scale="minor"), "C# minor", valid),
            (key(b'\xef\xbb\xbf{\n "scale": "major",\n "key": "Eb",\n "version": 1.0,\n'
                 b' "format": "quav-key"\n}\n'), "Eb major", valid),
            ("#quav-key=e30=", "", unreadable), (key(b'{"key":"\xff\xfe"}'), "", unreadable),
            (key(b"format=quav-key"), "", unreadable), (key(key="Db"), "", unreadable),
            (key(version=True), "", unreadable), (key(audio="x"), "", unreadable)]:
        status, page, err = run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             f"--user-data-dir={tmp_path}", "--virtual-time-budget=2000", "--dump-dom",
             f"http://127.0.0.1:{server.port}/{fragment}"], timeout=60)
        assert status == 0, err
        assert re.search(r'id="key"[^>]*>([^<]*)<', page)[1] == shown, fragment
        assert message in re.search(r'id="key-message"[^>]*>([^<]*)<', page)[1], fragment
