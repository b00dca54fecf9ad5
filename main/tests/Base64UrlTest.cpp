#include "Base64Url.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

using namespace std::string_literals;

TEST(Base64Url, EncodesWithTheUrlSafeAlphabetAndNoPadding) {
  // Bytes, then their text: RFC 4648's vectors without the "=" padding, then the bytes that
  // standard Base64 writes with "+" and "/".
  for (const auto& vectors :
       {std::vector<std::string>{"", "", "f", "Zg", "fo", "Zm8", "foo", "Zm9v", "foob", "Zm9vYg",
                                 "fooba", "Zm9vYmE", "foobar", "Zm9vYmFy"},
        std::vector<std::string>{"\xfb\xef\xbe", "----", "\xff\xff\xff", "____", "\xfb\xff", "-_8",
                                 "\0\0"s, "AAA"}}) {
    for (std::size_t i = 0; i < vectors.size(); i += 2) {
      EXPECT_EQ(base64url(vectors[i]), vectors[i + 1]) << vectors[i + 1];
    }
  }
}

}  // namespace
}  // namespace quav
