#include "ReadinessScan.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

TEST(OutputCap, AcceptsAnyChunkWholeBelowTheCapAndNothingFromTheCapOn) {
  std::string output(kOutputCap - 1, 'x');
  EXPECT_TRUE(appendWithinCap(output, std::string(1000, 'y')));
  EXPECT_EQ(output.size(), kOutputCap - 1 + 1000);
  EXPECT_FALSE(appendWithinCap(output, "z"));
  EXPECT_EQ(output.size(), kOutputCap - 1 + 1000);

  std::string full(kOutputCap, 'x');
  EXPECT_FALSE(appendWithinCap(full, "z"));
  EXPECT_EQ(full.size(), kOutputCap);
}

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

TEST(SplitLines, SplitsAtLfOnlyAndKeepsTheUnterminatedRest) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(splitLines(""), Pieces{""});
  EXPECT_EQ(splitLines("one\n"), (Pieces{"one", ""}));
  EXPECT_EQ(splitLines("one\r\ntwo\rstill two\n\nfour"),
            (Pieces{"one\r", "two\rstill two", "", "four"}));
}

TEST(AnnouncedLabAddress, TakesOnlyAbsoluteUrlsOnTheIpv4Loopback) {
  for (const std::string address :
       {"http://127.0.0.1:8123/", "http://u:p@127.0.0.1:9/lab?a=1#top", "quav://127.0.0.1"}) {
    const auto announced = announcedLabAddress("QUAV Tonvex is ready: " + address);
    ASSERT_TRUE(announced) << address;
    EXPECT_EQ(announced->buffer(), address);
  }
  for (const std::string line : {
           "QUAV Tonvex is ready: http://localhost:8123/",
           "QUAV Tonvex is ready: http://127.0.0.2:8123/",
           "QUAV Tonvex is ready: http://[::1]:8123/",
           "QUAV Tonvex is ready: http://127.000.0.1/",
           "QUAV Tonvex is ready: http://127.0.0.1.example/",
           "QUAV Tonvex is ready: http://127.0.0.1x/",
           "QUAV Tonvex is ready: http://127.0.0.1:80x/",
           "QUAV Tonvex is ready: 127.0.0.1:8123",
           "QUAV Tonvex is ready: localhost:8123",
           "QUAV Tonvex is ready: //127.0.0.1:8123/",
           "QUAV Tonvex is ready: http://127.0.0.1:8123/\r",
           "QUAV Tonvex is ready: http://127.0.0.1:8123/a b",
           "QUAV Tonvex is ready:  http://127.0.0.1/",
           "quav tonvex is ready: http://127.0.0.1/",
           "12:00 QUAV Tonvex is ready: http://127.0.0.1/",
           "QUAV Tonvex is ready: ",
       }) {
    EXPECT_FALSE(announcedLabAddress(line)) << line;
  }
}

}  // namespace
}  // namespace quav
