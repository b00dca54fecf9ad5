#include "LabAddress.h"

#include <gtest/gtest.h>

#include <boost/url/parse.hpp>

namespace quav {
namespace {

boost::urls::url_view labAddress(std::string_view text) {
  return boost::urls::parse_uri(text).value();
}

struct KeyAddressCase {
  friend void PrintTo(const KeyAddressCase& value, std::ostream* out) { *out << value.name; }
  std::string name;
  std::string labAddress;
  std::string keyBytes;
  std::string keyAddress;
};

class KeyAddressTest : public ::testing::TestWithParam<KeyAddressCase> {};

TEST_P(KeyAddressTest, ReplacesOnlyTheFragment) {
  EXPECT_EQ(keyAddress(labAddress(GetParam().labAddress), GetParam().keyBytes),
            GetParam().keyAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, KeyAddressTest,
    ::testing::Values(
        KeyAddressCase{"NoFragment", "http://127.0.0.1:8123/", "foob",
                       "http://127.0.0.1:8123/#quav-key=Zm9vYg"},
        KeyAddressCase{"FragmentReplaced", "http://127.0.0.1:8123/lab#intro", "foo",
                       "http://127.0.0.1:8123/lab#quav-key=Zm9v"},
        KeyAddressCase{"QueryBeforeTheFragment", "http://127.0.0.1:8123/lab?mode=a%20b", "fo",
                       "http://127.0.0.1:8123/lab?mode=a%20b#quav-key=Zm8"},
        KeyAddressCase{"UserPartAndNoPath", "https://me:pw@127.0.0.1:1", "\xfb\xff",
                       "https://me:pw@127.0.0.1:1#quav-key=-_8"},
        KeyAddressCase{"EmptyKey", "http://127.0.0.1/", "", "http://127.0.0.1/#quav-key="}),
    [](const auto& info) { return info.param.name; });

struct GuideAddressCase {
  friend void PrintTo(const GuideAddressCase& value, std::ostream* out) { *out << value.name; }
  std::string name;
  std::string labAddress;
  std::string guideAddress;
};

class GuideAddressTest : public ::testing::TestWithParam<GuideAddressCase> {};

TEST_P(GuideAddressTest, AppendsOnePathSegment) {
  EXPECT_EQ(guideAddress(labAddress(GetParam().labAddress)), GetParam().guideAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, GuideAddressTest,
    ::testing::Values(
        GuideAddressCase{"RootPath", "http://127.0.0.1:8123/",
                         "http://127.0.0.1:8123/CONNECT.html"},
        GuideAddressCase{"NoPath", "http://127.0.0.1:8123", "http://127.0.0.1:8123/CONNECT.html"},
        GuideAddressCase{"PathWithoutSlash", "http://127.0.0.1:8123/lab",
                         "http://127.0.0.1:8123/lab/CONNECT.html"},
        GuideAddressCase{"PathWithSlash", "http://127.0.0.1:8123/lab/",
                         "http://127.0.0.1:8123/lab/CONNECT.html"},
        GuideAddressCase{"QueryAndFragmentKept", "http://127.0.0.1:8123/lab/index.html?x=1#top",
                         "http://127.0.0.1:8123/lab/index.html/CONNECT.html?x=1#top"},
        GuideAddressCase{"EscapesKept", "http://127.0.0.1:8123/a%20b",
                         "http://127.0.0.1:8123/a%20b/CONNECT.html"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quav
