#include "Base64Url.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

struct Encoding {
  friend void PrintTo(const Encoding& value, std::ostream* out) {
    *out << ::testing::PrintToString(value.bytes);
  }
  std::string bytes;
  std::string text;
};

class Base64UrlTest : public ::testing::TestWithParam<Encoding> {};

TEST_P(Base64UrlTest, EncodesWithTheUrlSafeAlphabetAndNoPadding) {
  EXPECT_EQ(base64url(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Base64UrlTest,
                         ::testing::Values(
                             // RFC 4648's vectors, lengths 0 to 6, without the "=" padding.
                             Encoding{"", ""}, Encoding{"f", "Zg"}, Encoding{"fo", "Zm8"},
                             Encoding{"foo", "Zm9v"}, Encoding{"foob", "Zm9vYg"},
                             Encoding{"fooba", "Zm9vYmE"}, Encoding{"foobar", "Zm9vYmFy"},
                             // Where standard Base64 writes "+" and "/".
                             Encoding{"\xfb\xef\xbe", "----"}, Encoding{"\xff\xff\xff", "____"},
                             Encoding{"\xfb\xff", "-_8"}, Encoding{std::string("\0\0", 2), "AAA"},
                             Encoding{"{\"key\":\"C#\"}", "eyJrZXkiOiJDIyJ9"}));

}  // namespace
}  // namespace quav
