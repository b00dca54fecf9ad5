// The stand-in Lab server: serves the lab page and the connection guide on the loopback
// interface, announces its address on standard output and ends on SIGINT or SIGTERM.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Address.h"
#include "CommandLine.h"
#include "Pages.h"

namespace {

using namespace quav::lab;

constexpr const char* usage = "usage: tonvex-server [--no-browser] [--port N]";

// The pages need nothing from elsewhere, and nothing on them may send anything anywhere:
// no connections, so the key in the address fragment stays in the browser.
constexpr const char* contentSecurityPolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void complain(const std::string& problem) {
  std::fprintf(stderr, "tonvex-server: %s\n", problem.c_str());
}

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

void answer(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text, "text/plain; charset=utf-8");
}

void servePage(httplib::Response& response, std::string_view page) {
  response.set_header("Content-Security-Policy", contentSecurityPolicy);
  response.set_content(page.data(), page.size(), "text/html; charset=utf-8");
}

void setUpRoutes(httplib::Server& server, const std::uint16_t& port) {
  server.set_default_headers({{"Cache-Control", "no-store"},
                              {"Referrer-Policy", "no-referrer"},
                              {"X-Content-Type-Options", "nosniff"}});
  server.set_pre_routing_handler(
      [&port](const httplib::Request& request, httplib::Response& response) {
        // Exactly one Host header: with two, which one counts would be up to each reader.
        if (request.get_header_value_count("Host") == 1 &&
            isAnnouncedHost(request.get_header_value("Host"), port)) {
          return httplib::Server::HandlerResponse::Unhandled;
        }
        answer(response, 403, "This lab answers only at " + labAddress(port) + "\n");
        return httplib::Server::HandlerResponse::Handled;
      });
  // GET handlers answer HEAD too, without the body.
  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    servePage(response, labPage);
  });
  server.Get(R"(/CONNECT\.html)", [](const httplib::Request&, httplib::Response& response) {
    servePage(response, guidePage);
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404) answer(response, 404, "Not found\n");
  });
}

// Plain SO_REUSEADDR (a restart need not wait for old connections to time out), without
// httplib's default SO_REUSEPORT, which would let a second server share a port in use.
void reuseAddress(int socket) {
  const int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

int bindLoopback(httplib::Server& server, std::uint16_t port) {
  const std::string host(loopbackHost);
  if (port == 0) return server.bind_to_any_port(host);
  return server.bind_to_port(host, port) ? port : -1;
}

bool announce(std::uint16_t port) {
  const std::string line = "QUAV Tonvex is ready: " + labAddress(port) + "\n";
  return std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked first, before any thread starts, the stop signals reach only the sigwait below
  // (a signal during start-up waits for it); every thread of httplib inherits the mask.
  const sigset_t stops = stopSignals();
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  // A client that goes away mid-response must not end the server.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const auto parsed = parseCommandLine(arguments);
  if (const auto* error = std::get_if<UsageError>(&parsed)) {
    complain(error->message + " (" + usage + ")");
    return 2;
  }
  const std::uint16_t requestedPort = std::get<ServerOptions>(parsed).port;

  httplib::Server server;
  std::uint16_t port = 0;  // set before the first request can arrive
  setUpRoutes(server, port);
  server.set_socket_options(reuseAddress);
  const int bound = bindLoopback(server, requestedPort);
  if (bound <= 0) {
    const std::string which =
        requestedPort == 0 ? "any port" : "port " + std::to_string(requestedPort);
    complain("cannot listen on " + std::string(loopbackHost) + " " + which +
             ": it is in use or not permitted");
    return 1;
  }
  port = static_cast<std::uint16_t>(bound);
  if (!announce(port)) {
    complain("cannot write the readiness line to standard output");
    return 1;
  }

  std::thread serving([&server] {
    server.listen_after_bind();
    complain("stopped accepting connections");
    std::_Exit(1);
  });
  int received = 0;
  sigwait(&stops, &received);
  // httplib's listen returns only once every open connection has ended, and a browser keeps
  // idle ones for seconds. Nothing here needs an orderly teardown: the process ends now and
  // the system closes the sockets.
  std::_Exit(0);
}
