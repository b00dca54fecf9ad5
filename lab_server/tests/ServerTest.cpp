// tonvex-server as a process: its readiness line, pages, Host check, stop and failed starts.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace quav::lab::testing {
namespace {

using namespace std::chrono_literals;

// A TCP socket on 127.0.0.1, closed with the object.
class LoopbackSocket {
 public:
  LoopbackSocket() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval timeout{10, 0};  // a server that never answers fails the test, not hangs it
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~LoopbackSocket() { close(fd_); }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  bool connectTo(std::uint16_t port) {
    const auto address = loopback(port);
    return connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }

  // Binds and listens; returns the port, or 0.
  std::uint16_t listenOnAnyPort() {
    auto address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) != 0) return 0;
    if (listen(fd_, 1) != 0) return 0;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }

  // Sends a whole request and reads the answer until the server closes the connection.
  std::string exchange(const std::string& request) {
    if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
      return {};
    }
    std::string response;
    char buffer[4096];
    ssize_t count;
    while ((count = recv(fd_, buffer, sizeof buffer, 0)) > 0) response.append(buffer, count);
    return response;
  }

 private:
  static sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  int fd_;
};

class RunningServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(server.port(), 0) << "no readiness line; standard output: "
                                << server.process().standardOutput()
                                << "standard error: " << server.process().standardError();
  }

  httplib::Client client() const { return httplib::Client("127.0.0.1", server.port()); }

  ServerProcess server;
};

TEST_F(RunningServer, AnswersGetAndHeadForItsTwoPagesAndNotFoundForAnythingElse) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> pages = {
      {"/", {"Find the key. Keep your audio local.", "id=\"key\""}},
      {"/?from=launcher", {"id=\"key-message\""}},
      {"/CONNECT.html",
       {"&ldquo;QUAV Pro Tools Test&rdquo;", "&ldquo;QUAV Tonvex&rdquo;", "jack_connect",
        "pw-jack"}},
  };
  auto http = client();
  for (const auto& [path, contents] : pages) {
    SCOPED_TRACE(path);
    const auto get = http.Get(path);
    ASSERT_TRUE(get);
    EXPECT_EQ(get->status, 200);
    EXPECT_EQ(get->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(get->body.starts_with("<!DOCTYPE html>"));
    for (const auto& content : contents) {
      EXPECT_NE(get->body.find(content), std::string::npos) << content;
    }
    const auto head = http.Head(path);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->body, "");
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
  }
  for (const std::string path : {"/index.html", "/lab.html", "/connect.html", "/CONNECTxhtml",
                                 "/CONNECT.html/", "/CONNECT.htm", "//CONNECT.html",
                                 "/pages/CONNECT.html", "/../../etc/passwd", "/favicon.ico"}) {
    const auto response = http.Get(path);
    ASSERT_TRUE(response) << path;
    EXPECT_EQ(response->status, 404) << path;
  }
  const auto post = http.Post("/", "quav", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
}

TEST_F(RunningServer, HostMustBeTheAnnouncedAddress) {
  const std::string announced = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  const std::vector<std::pair<std::string, int>> cases = {
      {announced, 200},
      {"Host: localhost:" + std::to_string(server.port()) + "\r\n", 403},
      {"", 403},
      {announced + "Host: rebound.example\r\n", 403},
  };
  for (const auto& [headers, status] : cases) {
    SCOPED_TRACE(headers);
    LoopbackSocket connection;
    ASSERT_TRUE(connection.connectTo(server.port()));
    const auto response =
        connection.exchange("GET / HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 " + std::to_string(status) + " "))
        << response.substr(0, response.find('\r'));
  }
}

// A browser keeps idle connections open for seconds; they must not hold the server up.
TEST(ServerStop, SignalEndsTheServerWithStatusZeroDespiteAnOpenConnection) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    ServerProcess server;
    ASSERT_NE(server.port(), 0) << server.process().standardError();
    const auto readiness = server.process().standardOutput();
    LoopbackSocket idle;
    ASSERT_TRUE(idle.connectTo(server.port()));
    httplib::Client http("127.0.0.1", server.port());
    ASSERT_TRUE(http.Get("/"));
    ASSERT_TRUE(http.Get("/missing"));
    server.process().sendSignal(signal);
    const auto ending = server.process().waitForEnd(3s);
    ASSERT_TRUE(ending) << "still running 3 s after the signal";
    EXPECT_EQ(ending->exitCode, 0);
    EXPECT_EQ(server.process().standardOutput(), readiness);
    EXPECT_EQ(server.process().standardError(), "");
  }
}

TEST(ServerPort, IsTheOneAskedFor) {
  std::uint16_t free = 0;
  {
    LoopbackSocket probe;
    free = probe.listenOnAnyPort();
  }
  ASSERT_NE(free, 0);
  ServerProcess server({"--port", std::to_string(free)});
  EXPECT_EQ(server.port(), free) << server.process().standardError();
}

TEST(ServerStart, FailsWithItsStatusAndOneLineOnStandardError) {
  LoopbackSocket occupant;
  const auto taken = std::to_string(occupant.listenOnAnyPort());
  ServerProcess running;
  ASSERT_NE(running.port(), 0);
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"--no-browser", "--port", "12ab"}, 2},
      {{"--no-browser", "--port", taken}, 1},
      // Not even a server of its own may share the port.
      {{"--no-browser", "--port", std::to_string(running.port())}, 1},
  };
  for (const auto& [arguments, status] : cases) {
    SCOPED_TRACE(arguments.back());
    const auto run = quav::testing::runToEnd(ServerProcess::commandLine(arguments), "");
    EXPECT_EQ(run.ending.exitCode, status);
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(!run.error.empty() && run.error.find('\n') == run.error.size() - 1) << run.error;
  }
}

}  // namespace
}  // namespace quav::lab::testing
