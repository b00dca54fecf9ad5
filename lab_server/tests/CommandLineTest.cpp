#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace quav::lab {
namespace {

using Arguments = std::vector<std::string_view>;

void PrintTo(const Arguments& arguments, std::ostream* out) {
  if (arguments.empty()) *out << "no arguments";
  for (const auto argument : arguments) *out << "'" << argument << "' ";
}

struct Accepted {
  Arguments arguments;
  std::uint16_t port;
  friend void PrintTo(const Accepted& accepted, std::ostream* out) {
    PrintTo(accepted.arguments, out);
  }
};

class AcceptedCommandLine : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedCommandLine, GivesThePort) {
  const auto parsed = parseCommandLine(GetParam().arguments);
  ASSERT_TRUE(std::holds_alternative<ServerOptions>(parsed))
      << std::get<UsageError>(parsed).message;
  EXPECT_EQ(std::get<ServerOptions>(parsed).port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Options, AcceptedCommandLine,
                         ::testing::Values(Accepted{{}, 0}, Accepted{{"--no-browser"}, 0},
                                           Accepted{{"--no-browser", "--port", "0"}, 0},
                                           Accepted{{"--port", "8080", "--no-browser"}, 8080},
                                           Accepted{{"--port", "1"}, 1},
                                           Accepted{{"--port", "65535"}, 65535},
                                           Accepted{{"--port", "00443"}, 443}));

struct Refused {
  Arguments arguments;
  std::string_view messagePart;  // what the message must name
  friend void PrintTo(const Refused& refused, std::ostream* out) {
    PrintTo(refused.arguments, out);
  }
};

class RefusedCommandLine : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedCommandLine, NamesTheProblem) {
  const auto parsed = parseCommandLine(GetParam().arguments);
  ASSERT_TRUE(std::holds_alternative<UsageError>(parsed));
  const auto& message = std::get<UsageError>(parsed).message;
  EXPECT_NE(message.find(GetParam().messagePart), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos) << "the message must fit on one line";
}

INSTANTIATE_TEST_SUITE_P(
    Options, RefusedCommandLine,
    ::testing::Values(Refused{{"--verbose"}, "'--verbose'"}, Refused{{"8080"}, "'8080'"},
                      Refused{{"--port=8080"}, "'--port=8080'"},
                      Refused{{"--no-browser", "--port"}, "needs a number"},
                      Refused{{"--port", ""}, "'' is not a port number"},
                      Refused{{"--port", "http"}, "'http' is not a port number"},
                      Refused{{"--port", "-1"}, "'-1' is not a port number"},
                      Refused{{"--port", "+80"}, "'+80' is not a port number"},
                      Refused{{"--port", " 80"}, "' 80' is not a port number"},
                      Refused{{"--port", "80x"}, "'80x' is not a port number"},
                      Refused{{"--port", "65536"}, "65536 is out of range"},
                      Refused{{"--port", "99999999999999999999999"}, "out of range"},
                      Refused{{"--port", "1", "--port", "2"}, "--port given more than once"},
                      Refused{{"--no-browser", "--no-browser"}, "more than once"}));

}  // namespace
}  // namespace quav::lab
