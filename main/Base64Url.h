// The key travels to the lab page in an address fragment, so it is written in the URL-safe
// Base64 alphabet ("-" and "_" for "+" and "/") without "=" padding.
#pragma once

#include <string>
#include <string_view>

namespace quav {

std::string base64url(std::string_view bytes);

}  // namespace quav
