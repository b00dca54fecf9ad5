// The one address the server answers at: the loopback interface and the port it announced.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quav::lab {

inline constexpr std::string_view loopbackHost = "127.0.0.1";

// "http://127.0.0.1:<port>/", the address of the lab page.
std::string labAddress(std::uint16_t port);

// Whether a request's Host header names the announced address exactly. Anything else, a
// name that resolves to the loopback interface included, may be a page of another site
// that reached the lab by rebinding its own name.
bool isAnnouncedHost(std::string_view host, std::uint16_t port);

}  // namespace quav::lab
