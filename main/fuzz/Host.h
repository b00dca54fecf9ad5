// The host an address names, read the plain way a browser reads an authority: after "//", up
// to the first "/", "?" or "#", after the last "@", before the port.
#pragma once

#include <string_view>

inline std::string_view hostOf(std::string_view address) {
  const auto authority = address.find("://");
  if (authority == std::string_view::npos || address.find(':') != authority) return {};
  std::string_view host = address.substr(authority + 3);
  host = host.substr(0, host.find_first_of("/?#"));
  if (const auto at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
  return host.substr(0, host.find(':'));
}
