#include "LabAddress.h"

#include <gtest/gtest.h>

#include <array>
#include <boost/url/parse.hpp>

namespace quav {
namespace {

boost::urls::url_view labAddress(std::string_view text) {
  return boost::urls::parse_uri(text).value();
}

const std::string kHost = "http://127.0.0.1:8123";

TEST(KeyAddress, ReplacesOnlyTheFragment) {
  for (const auto& [lab, key, expected] : std::vector<std::array<std::string, 3>>{
           {kHost + "/", "foob", kHost + "/#quav-key=Zm9vYg"},
           {kHost + "/lab#intro", "foo", kHost + "/lab#quav-key=Zm9v"},
           {kHost + "/lab?mode=a%20b", "fo", kHost + "/lab?mode=a%20b#quav-key=Zm8"},
           {"https://me:pw@127.0.0.1:1", "\xfb\xff", "https://me:pw@127.0.0.1:1#quav-key=-_8"}}) {
    EXPECT_EQ(keyAddress(labAddress(lab), key), expected) << lab;
  }
}

TEST(GuideAddress, AppendsOnePathSegment) {
  for (const auto& [lab, expected] : std::vector<std::array<std::string, 2>>{
           {kHost + "/", kHost + "/CONNECT.html"},
           {kHost, kHost + "/CONNECT.html"},
           {kHost + "/lab", kHost + "/lab/CONNECT.html"},
           {kHost + "/lab/", kHost + "/lab/CONNECT.html"},
           {kHost + "/a%20b", kHost + "/a%20b/CONNECT.html"},
           {kHost + "/lab/index.html?x=1#top", kHost + "/lab/index.html/CONNECT.html?x=1#top"}}) {
    EXPECT_EQ(guideAddress(labAddress(lab)), expected) << lab;
  }
}

}  // namespace
}  // namespace quav
