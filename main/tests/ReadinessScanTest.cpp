#include "ReadinessScan.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

// Each maximal ill-formed subsequence becomes one U+FFFD.
TEST(Utf8Decoding, ReplacesEachMaximalIllFormedSubsequenceOnce) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF", "\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF"},
      // The Unicode Standard's example in section 3.9: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
      {"a\xF1\x80\x80\xE1\x80\xC2"
       "b\x80"
       "c\x80\xBF"
       "d",
       "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"\xC0\xAF", r + r},                  // overlong, two bytes
      {"\xE0\x80\xAF", r + r + r},          // overlong, three bytes
      {"\xF0\x8F\xBF\xBF", r + r + r + r},  // overlong, four bytes
      {"\xED\xA0\x80", r + r + r},          // surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
      {"\xF5\xFE\xFF", r + r + r},          // never a lead byte
      {"ok\xE2\x80", "ok" + r},             // truncated at the end
      {"\xF0\x9F\x8E\n", r + "\n"},         // truncated before ASCII
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_EQ(decodeUtf8(bytes), text) << ::testing::PrintToString(bytes);
  }
}

TEST(AnnouncedLabAddress, TakesOnlyAbsoluteUrlsOnTheIpv4Loopback) {
  const std::string prefix = "QUAV Tonvex is ready: ";
  for (const std::string address :
       {"http://127.0.0.1:8123/", "http://u:p@127.0.0.1:9/lab?a=1#top", "quav://127.0.0.1"}) {
    const auto announced = announcedLabAddress(prefix + address);
    EXPECT_EQ(announced ? announced->buffer() : "", address);
  }
  for (const std::string address :
       {"http://localhost:8123/", "http://127.0.0.2:8123/", "http://[::1]:8123/",
        "http://127.000.0.1/", "http://127.0.0.1.example/", "http://127.0.0.1x/",
        "http://127.0.0.1:80x/", "127.0.0.1:8123", "localhost:8123", "//127.0.0.1:8123/",
        "http://127.0.0.1:8123/\r", "http://127.0.0.1:8123/a b", " http://127.0.0.1/", ""}) {
    EXPECT_FALSE(announcedLabAddress(prefix + address)) << address;
  }
  for (const std::string line : {"quav tonvex is ready: http://127.0.0.1/",
                                 "12:00 QUAV Tonvex is ready: http://127.0.0.1/"}) {
    EXPECT_FALSE(announcedLabAddress(line)) << line;
  }
}

}  // namespace
}  // namespace quav
