#include "Address.h"

namespace quav::lab {
namespace {

std::string hostAndPort(std::uint16_t port) {
  return std::string(loopbackHost) + ":" + std::to_string(port);
}

}  // namespace

std::string labAddress(std::uint16_t port) {
  return "http://" + hostAndPort(port) + "/";
}

bool isAnnouncedHost(std::string_view host, std::uint16_t port) {
  return host == hostAndPort(port);
}

}  // namespace quav::lab
