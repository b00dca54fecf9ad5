#include "JackServer.h"

#include <signal.h>

#include <stdexcept>
#include <thread>

namespace quav::testing {
namespace {

std::vector<std::string> environmentFor(const std::string& name) {
  return {"JACK_DEFAULT_SERVER=" + name, "JACK_NO_START_SERVER=1"};
}

bool answers(const std::vector<std::string>& environment) {
  return runToEnd({"/usr/bin/jack_lsp"}, "", environment).ending.exitCode == 0;
}

}  // namespace

JackServer::JackServer() : name_(uniqueName("quav-jack")) {
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/jackd", "--no-realtime", "-S", "-n", name_, "-d", "dummy",
                               "-r", "48000", "-p", "256"},
      environment());
  // jackd has no readiness signal of its own; a client that connects is the proof.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (server_->waitForExit(std::chrono::milliseconds(0))) break;
    if (answers(environment())) return;
    std::this_thread::sleep_for(50ms);
  }
  throw std::runtime_error("private JACK server did not start: " + server_->standardError());
}

JackServer::~JackServer() {
  server_->sendSignal(SIGTERM);
  server_->waitForExit(10s);
}

std::vector<std::string> JackServer::environment() const {
  return environmentFor(name_);
}

std::vector<std::string> JackServer::environmentWithoutServer() {
  return environmentFor(uniqueName("quav-no-jack"));
}

}  // namespace quav::testing
