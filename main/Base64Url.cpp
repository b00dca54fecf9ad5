#include "Base64Url.h"

#include <cstddef>
#include <cstdint>

namespace quav {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

std::string base64url(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() * 4 + 2) / 3);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      const auto byte = j < count ? static_cast<unsigned char>(bytes[i + j]) : 0u;
      group = (group << 8) | byte;
    }
    // n bytes carry 8n bits, which need n + 1 six-bit digits; the padding is left out.
    for (std::size_t digit = 0; digit <= count; ++digit) {
      text += kAlphabet[(group >> (18 - 6 * digit)) & 0x3F];
    }
  }
  return text;
}

}  // namespace quav
