#include "Base64Url.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

TEST(Base64Url, EncodesWithTheUrlSafeAlphabetAndNoPadding) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      // RFC 4648's vectors, lengths 0 to 6, without the "=" padding.
      {"", ""},
      {"f", "Zg"},
      {"fo", "Zm8"},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg"},
      {"fooba", "Zm9vYmE"},
      {"foobar", "Zm9vYmFy"},
      // Where standard Base64 writes "+" and "/".
      {"\xfb\xef\xbe", "----"},
      {"\xff\xff\xff", "____"},
      {"\xfb\xff", "-_8"},
      {std::string("\0\0", 2), "AAA"}};
  for (const auto& [bytes, text] : vectors) EXPECT_EQ(base64url(bytes), text) << text;
}

}  // namespace
}  // namespace quav
