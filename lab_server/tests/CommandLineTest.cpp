#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace quav::lab {

// An accepted command line reads as "port N", a refused one as its message, which names what
// was wrong and fits on one line.
TEST(LabCommandLine, GivesThePortOrSaysWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string_view>, std::string_view>> cases = {
      {{}, "port 0"},
      {{"--no-browser", "--port", "0"}, "port 0"},
      {{"--port", "8080", "--no-browser"}, "port 8080"},
      {{"--port", "1"}, "port 1"},
      {{"--port", "65535"}, "port 65535"},
      {{"--port", "00443"}, "port 443"},
      {{"--verbose"}, "'--verbose'"},
      {{"--port=8080"}, "'--port=8080'"},
      {{"--no-browser", "--port"}, "needs a number"},
      {{"--port", ""}, "'' is not a port number"},
      {{"--port", "http"}, "'http' is not a port number"},
      {{"--port", "-1"}, "'-1' is not a port number"},
      {{"--port", "+80"}, "'+80' is not a port number"},
      {{"--port", " 80"}, "' 80' is not a port number"},
      {{"--port", "80x"}, "'80x' is not a port number"},
      {{"--port", "8\n0"}, "'8\\x0a0' is not a port number"},
      {{"--no-browser\r"}, "unknown argument '--no-browser\\x0d'"},
      {{"--port", "65536"}, "65536 is out of range"},
      {{"--port", "99999999999999999999999"}, "out of range"},
      {{"--port", "1", "--port", "2"}, "--port given more than once"},
      {{"--no-browser", "--no-browser"}, "more than once"},
  };
  for (const auto& [arguments, part] : cases) {
    const auto parsed = parseCommandLine(arguments);
    const auto* options = std::get_if<ServerOptions>(&parsed);
    const auto shown =
        options ? "port " + std::to_string(options->port) : std::get<UsageError>(parsed).message;
    EXPECT_TRUE(part.starts_with("port ") ? shown == part : shown.find(part) != std::string::npos)
        << ::testing::PrintToString(arguments) << ": " << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
  }
}

}  // namespace quav::lab
