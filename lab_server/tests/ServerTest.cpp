// tonvex-server as a process: its command line, readiness line, pages, Host check and stop.
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

#include "ChildProcess.h"
#include "ServerProcess.h"

namespace quav::lab::testing {
namespace {

using quav::testing::ChildProcess;
using quav::testing::runToEnd;
using namespace std::chrono_literals;

bool isOneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

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

TEST_F(RunningServer, WritesOnlyTheReadinessLineToStandardOutput) {
  const auto readiness = server.process().standardOutput();
  auto http = client();
  ASSERT_TRUE(http.Get("/"));
  ASSERT_TRUE(http.Get("/missing"));
  server.process().sendSignal(SIGINT);
  ASSERT_TRUE(server.process().waitForEnd());
  EXPECT_EQ(server.process().standardOutput(), readiness);
  EXPECT_EQ(server.process().standardError(), "");
}

struct Page {
  std::string path;
  std::vector<std::string> contents;
  friend void PrintTo(const Page& page, std::ostream* out) { *out << page.path; }
};

class ServedPage : public RunningServer, public ::testing::WithParamInterface<Page> {};

TEST_P(ServedPage, AnswersGetWithTheHtmlAndHeadWithItsHeadersOnly) {
  auto http = client();
  const auto get = http.Get(GetParam().path);
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  EXPECT_EQ(get->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_TRUE(get->body.starts_with("<!DOCTYPE html>"));
  for (const auto& content : GetParam().contents) {
    EXPECT_NE(get->body.find(content), std::string::npos) << content;
  }
  const auto head = http.Head(GetParam().path);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->body, "");
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ServedPage,
    ::testing::Values(Page{"/", {"Find the key. Keep your audio local.", "id=\"key\""}},
                      Page{"/?from=launcher", {"id=\"key-message\""}},
                      Page{"/CONNECT.html",
                           {"&ldquo;QUAV Pro Tools Test&rdquo;", "&ldquo;QUAV Tonvex&rdquo;",
                            "jack_connect", "pw-jack"}}));

class UnknownPath : public RunningServer, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnknownPath, IsNotFound) {
  const auto response = client().Get(GetParam());
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
}

INSTANTIATE_TEST_SUITE_P(Paths, UnknownPath,
                         ::testing::Values("/index.html", "/lab.html", "/connect.html",
                                           "/CONNECTxhtml", "/CONNECT.html/", "/CONNECT.htm",
                                           "//CONNECT.html", "/pages/CONNECT.html",
                                           "/../../etc/passwd", "/favicon.ico"));

TEST_F(RunningServer, AnswersNoOtherMethod) {
  const auto response = client().Post("/", "quav", "text/plain");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
}

struct HostHeader {
  std::string name;
  std::string headers;  // "PORT" stands for the announced port
  int status;
  friend void PrintTo(const HostHeader& host, std::ostream* out) { *out << host.name; }
};

class RequestHost : public RunningServer, public ::testing::WithParamInterface<HostHeader> {};

TEST_P(RequestHost, MustBeTheAnnouncedAddress) {
  std::string headers = GetParam().headers;
  for (auto at = headers.find("PORT"); at != std::string::npos; at = headers.find("PORT")) {
    headers.replace(at, 4, std::to_string(server.port()));
  }
  LoopbackSocket connection;
  ASSERT_TRUE(connection.connectTo(server.port()));
  const auto response =
      connection.exchange("GET / HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n");
  EXPECT_TRUE(response.starts_with("HTTP/1.1 " + std::to_string(GetParam().status) + " "))
      << response.substr(0, response.find('\r'));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RequestHost,
    ::testing::Values(HostHeader{"Announced", "Host: 127.0.0.1:PORT\r\n", 200},
                      HostHeader{"Localhost", "Host: localhost:PORT\r\n", 403},
                      HostHeader{"ReboundName", "Host: rebound.example:PORT\r\n", 403},
                      HostHeader{"OtherPort", "Host: 127.0.0.1:1PORT\r\n", 403},
                      HostHeader{"NoPort", "Host: 127.0.0.1\r\n", 403},
                      HostHeader{"Missing", "", 403},
                      HostHeader{"TwoHosts",
                                 "Host: 127.0.0.1:PORT\r\nHost: rebound.example:PORT\r\n", 403}),
    [](const auto& info) { return info.param.name; });

class StopSignal : public RunningServer, public ::testing::WithParamInterface<int> {};

// A browser keeps idle connections open for seconds; they must not hold the server up.
TEST_P(StopSignal, EndsTheServerWithStatusZeroDespiteAnOpenConnection) {
  LoopbackSocket idle;
  ASSERT_TRUE(idle.connectTo(server.port()));
  const auto served = client().Get("/");
  ASSERT_TRUE(served);
  ASSERT_EQ(served->status, 200);
  server.process().sendSignal(GetParam());
  const auto ending = server.process().waitForEnd(3s);
  ASSERT_TRUE(ending) << "still running 3 s after the signal";
  EXPECT_EQ(ending->exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

struct BadArguments {
  std::string name;
  std::vector<std::string> arguments;
  friend void PrintTo(const BadArguments& bad, std::ostream* out) { *out << bad.name; }
};

class BadCommandLine : public ::testing::TestWithParam<BadArguments> {};

TEST_P(BadCommandLine, ExitsWithStatusTwoAndOneLineOnStandardError) {
  std::vector<std::string> argv{TONVEX_SERVER};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const auto run = runToEnd(argv, "");
  EXPECT_EQ(run.ending.exitCode, 2);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(isOneLine(run.error)) << run.error;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCommandLine,
    ::testing::Values(BadArguments{"UnknownOption", {"--no-browser", "--browser"}},
                      BadArguments{"MissingNumber", {"--no-browser", "--port"}},
                      BadArguments{"MalformedNumber", {"--port", "12ab"}},
                      BadArguments{"OutOfRange", {"--port", "65536"}}),
    [](const auto& info) { return info.param.name; });

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

TEST(ServerPort, InUseEndsTheServerWithStatusOneAndOneLineOnStandardError) {
  LoopbackSocket occupant;
  const auto port = occupant.listenOnAnyPort();
  ASSERT_NE(port, 0);
  const auto run = runToEnd({TONVEX_SERVER, "--no-browser", "--port", std::to_string(port)}, "");
  EXPECT_EQ(run.ending.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(isOneLine(run.error)) << run.error;
}

TEST(ServerPort, OfARunningServerIsNotSharedWithASecondOne) {
  ServerProcess first;
  ASSERT_NE(first.port(), 0);
  const auto run =
      runToEnd({TONVEX_SERVER, "--no-browser", "--port", std::to_string(first.port())}, "");
  EXPECT_EQ(run.ending.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(isOneLine(run.error)) << run.error;
}

}  // namespace
}  // namespace quav::lab::testing
