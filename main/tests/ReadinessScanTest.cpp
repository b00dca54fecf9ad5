#include "ReadinessScan.h"

#include <gtest/gtest.h>

namespace quav {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

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

struct Decoding {
  friend void PrintTo(const Decoding& value, std::ostream* out) { *out << value.name; }
  std::string name;
  std::string bytes;
  std::string text;
};

class Utf8DecodingTest : public ::testing::TestWithParam<Decoding> {};

TEST_P(Utf8DecodingTest, ReplacesEachMaximalIllFormedSubsequenceOnce) {
  EXPECT_EQ(decodeUtf8(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8DecodingTest,
    ::testing::Values(
        Decoding{"Ascii", "QUAV\n", "QUAV\n"},
        Decoding{"WellFormedOfEachLength", "\xC3\xA9\xE2\x80\xA6\xE2\x80\x99\xF0\x9F\x8E\xB5",
                 "\xC3\xA9\xE2\x80\xA6\xE2\x80\x99\xF0\x9F\x8E\xB5"},
        Decoding{"Boundaries", "\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF",
                 "\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF"},
        // The example of the Unicode Standard, section 3.9 (U+FFFD substitution of maximal
        // subparts): 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
        Decoding{"UnicodeExample",
                 "a\xF1\x80\x80\xE1\x80\xC2"
                 "b\x80"
                 "c\x80\xBF"
                 "d",
                 "a" + kReplacement + kReplacement + kReplacement + "b" + kReplacement + "c" +
                     kReplacement + kReplacement + "d"},
        Decoding{"OverlongTwoBytes", "\xC0\xAF", kReplacement + kReplacement},
        Decoding{"OverlongThreeBytes", "\xE0\x80\xAF", kReplacement + kReplacement + kReplacement},
        Decoding{"OverlongFourBytes", "\xF0\x8F\xBF\xBF",
                 kReplacement + kReplacement + kReplacement + kReplacement},
        Decoding{"Surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
        Decoding{"BeyondU10FFFF", "\xF4\x90\x80\x80",
                 kReplacement + kReplacement + kReplacement + kReplacement},
        Decoding{"NeverALeadByte", "\xF5\xFE\xFF", kReplacement + kReplacement + kReplacement},
        Decoding{"TruncatedAtTheEnd", "ok\xE2\x80", "ok" + kReplacement},
        Decoding{"TruncatedBeforeAscii", "\xF0\x9F\x8E\n", kReplacement + "\n"},
        Decoding{"NulIsText", std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return info.param.name; });

TEST(SplitLines, SplitsAtLfOnlyAndKeepsTheUnterminatedRest) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(splitLines(""), Pieces{""});
  EXPECT_EQ(splitLines("one"), Pieces{"one"});
  EXPECT_EQ(splitLines("one\n"), (Pieces{"one", ""}));
  EXPECT_EQ(splitLines("one\r\ntwo\rstill two\n\nfour"),
            (Pieces{"one\r", "two\rstill two", "", "four"}));
}

struct Announcement {
  friend void PrintTo(const Announcement& value, std::ostream* out) { *out << value.name; }
  std::string name;
  std::string line;
  std::optional<std::string> address;
};

class AnnouncedLabAddressTest : public ::testing::TestWithParam<Announcement> {};

TEST_P(AnnouncedLabAddressTest, TakesOnlyAbsoluteUrlsOnTheIpv4Loopback) {
  const auto address = announcedLabAddress(GetParam().line);
  ASSERT_EQ(address.has_value(), GetParam().address.has_value());
  if (address) {
    EXPECT_EQ(address->buffer(), *GetParam().address);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AnnouncedLabAddressTest,
    ::testing::Values(
        Announcement{"Plain", "QUAV Tonvex is ready: http://127.0.0.1:8123/",
                     "http://127.0.0.1:8123/"},
        Announcement{"EverythingKept", "QUAV Tonvex is ready: http://u:p@127.0.0.1:9/lab?a=1#top",
                     "http://u:p@127.0.0.1:9/lab?a=1#top"},
        Announcement{"AnyScheme", "QUAV Tonvex is ready: quav://127.0.0.1", "quav://127.0.0.1"},
        Announcement{"Localhost", "QUAV Tonvex is ready: http://localhost:8123/", std::nullopt},
        Announcement{"OtherAddress", "QUAV Tonvex is ready: http://127.0.0.2:8123/", std::nullopt},
        Announcement{"Ipv6Loopback", "QUAV Tonvex is ready: http://[::1]:8123/", std::nullopt},
        Announcement{"LoopbackSpelledOtherwise", "QUAV Tonvex is ready: http://127.000.0.1/",
                     std::nullopt},
        Announcement{"LoopbackAsPartOfAName", "QUAV Tonvex is ready: http://127.0.0.1.example/",
                     std::nullopt},
        Announcement{"LoopbackFollowedByLetters", "QUAV Tonvex is ready: http://127.0.0.1x/",
                     std::nullopt},
        Announcement{"PortFollowedByLetters", "QUAV Tonvex is ready: http://127.0.0.1:80x/",
                     std::nullopt},
        Announcement{"HostAndPortWithoutScheme", "QUAV Tonvex is ready: 127.0.0.1:8123",
                     std::nullopt},
        Announcement{"NameAndPortWithoutScheme", "QUAV Tonvex is ready: localhost:8123",
                     std::nullopt},
        Announcement{"NetworkPathReference", "QUAV Tonvex is ready: //127.0.0.1:8123/",
                     std::nullopt},
        Announcement{"TrailingCr", "QUAV Tonvex is ready: http://127.0.0.1:8123/\r", std::nullopt},
        Announcement{"InnerSpace", "QUAV Tonvex is ready: http://127.0.0.1:8123/a b", std::nullopt},
        Announcement{"TwoSpacesAfterColon", "QUAV Tonvex is ready:  http://127.0.0.1/",
                     std::nullopt},
        Announcement{"OtherCase", "quav tonvex is ready: http://127.0.0.1/", std::nullopt},
        Announcement{"TextBeforePrefix", "12:00 QUAV Tonvex is ready: http://127.0.0.1/",
                     std::nullopt},
        Announcement{"NoAddress", "QUAV Tonvex is ready: ", std::nullopt}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quav
