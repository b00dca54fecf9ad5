// The server's outside input: a request's Host header and the command line, which gives the port
// the header must name. Here they are NUL-separated strings, the header first, as argv holds them.
#include <algorithm>
#include <boost/url/parse.hpp>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Address.h"
#include "CommandLine.h"

using namespace quav::lab;

namespace {

// A Host header reads as an authority: the announced one is the loopback address and the port,
// with no user part and no other spelling of either.
bool namesLoopbackAndPort(std::string_view host, std::uint16_t port) {
  const auto authority = boost::urls::parse_authority(host);
  return authority && !authority->has_userinfo() && authority->encoded_host() == "127.0.0.1" &&
         authority->has_port() && authority->port_number() == port &&
         authority->port() == std::to_string(port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> strings;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\0', start), text.size());
    strings.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const auto parsed = parseCommandLine(std::span(strings).subspan(1));
  // A refused command line is told on one line, in plain characters.
  const auto* error = std::get_if<UsageError>(&parsed);
  if (error &&
      (error->message.empty() || std::ranges::any_of(error->message, [](unsigned char byte) {
         return byte < 0x20 || byte == 0x7F;
       })))
    std::abort();
  const std::uint16_t port = error ? 0 : std::get<ServerOptions>(parsed).port;
  if (isAnnouncedHost(strings[0], port) != namesLoopbackAndPort(strings[0], port)) std::abort();
  return 0;
}
