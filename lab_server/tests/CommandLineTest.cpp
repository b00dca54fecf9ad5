#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "Address.h"

namespace quav::lab {
namespace {

using Arguments = std::vector<std::string_view>;

TEST(LabCommandLine, AcceptedOptionsGiveThePort) {
  const std::vector<std::pair<Arguments, std::uint16_t>> cases = {
      {{}, 0},
      {{"--no-browser"}, 0},
      {{"--no-browser", "--port", "0"}, 0},
      {{"--port", "8080", "--no-browser"}, 8080},
      {{"--port", "1"}, 1},
      {{"--port", "65535"}, 65535},
      {{"--port", "00443"}, 443},
  };
  for (const auto& [arguments, port] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const auto parsed = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<ServerOptions>(parsed))
        << std::get<UsageError>(parsed).message;
    EXPECT_EQ(std::get<ServerOptions>(parsed).port, port);
  }
}

TEST(LabCommandLine, RefusedOptionsAreNamedOnOneLine) {
  const std::vector<std::pair<Arguments, std::string_view>> cases = {
      {{"--verbose"}, "'--verbose'"},
      {{"8080"}, "'8080'"},
      {{"--port=8080"}, "'--port=8080'"},
      {{"--no-browser", "--port"}, "needs a number"},
      {{"--port", ""}, "'' is not a port number"},
      {{"--port", "http"}, "'http' is not a port number"},
      {{"--port", "-1"}, "'-1' is not a port number"},
      {{"--port", "+80"}, "'+80' is not a port number"},
      {{"--port", " 80"}, "' 80' is not a port number"},
      {{"--port", "80x"}, "'80x' is not a port number"},
      {{"--port", "65536"}, "65536 is out of range"},
      {{"--port", "99999999999999999999999"}, "out of range"},
      {{"--port", "1", "--port", "2"}, "--port given more than once"},
      {{"--no-browser", "--no-browser"}, "more than once"},
  };
  for (const auto& [arguments, messagePart] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const auto parsed = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<UsageError>(parsed));
    const auto& message = std::get<UsageError>(parsed).message;
    EXPECT_NE(message.find(messagePart), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << "the message must fit on one line";
  }
}

TEST(LabAddress, OnlyTheExactLoopbackAddressAndPortIsTheAnnouncedHost) {
  EXPECT_EQ(labAddress(65535), "http://127.0.0.1:65535/");
  EXPECT_TRUE(isAnnouncedHost("127.0.0.1:8080", 8080));
  for (const std::string_view host :
       {"localhost:8080", "rebound.example:8080", "127.0.0.1", "127.0.0.1:8081", "127.0.0.1:80800",
        "127.0.0.1:08080", "127.0.0.2:8080", "[::1]:8080", "127.0.0.1:8080.", " 127.0.0.1:8080",
        ""}) {
    EXPECT_FALSE(isAnnouncedHost(host, 8080)) << "'" << host << "'";
  }
}

}  // namespace
}  // namespace quav::lab
