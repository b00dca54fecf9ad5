#include "LabAddress.h"

#include <gtest/gtest.h>

#include <boost/url/parse.hpp>

namespace quav {
namespace {

boost::urls::url_view labAddress(std::string_view text) {
  return boost::urls::parse_uri(text).value();
}

TEST(KeyAddress, ReplacesOnlyTheFragment) {
  struct Case {
    std::string lab, key, expected;
  };
  for (const auto& [lab, key, expected] : std::vector<Case>{
           {"http://127.0.0.1:8123/", "foob", "http://127.0.0.1:8123/#quav-key=Zm9vYg"},
           {"http://127.0.0.1:8123/lab#intro", "foo", "http://127.0.0.1:8123/lab#quav-key=Zm9v"},
           {"http://127.0.0.1:8123/lab?mode=a%20b", "fo",
            "http://127.0.0.1:8123/lab?mode=a%20b#quav-key=Zm8"},
           {"https://me:pw@127.0.0.1:1", "\xfb\xff", "https://me:pw@127.0.0.1:1#quav-key=-_8"},
       }) {
    EXPECT_EQ(keyAddress(labAddress(lab), key), expected) << lab;
  }
}

TEST(GuideAddress, AppendsOnePathSegment) {
  for (const auto& [lab, expected] : std::vector<std::pair<std::string, std::string>>{
           {"http://127.0.0.1:8123/", "http://127.0.0.1:8123/CONNECT.html"},
           {"http://127.0.0.1:8123", "http://127.0.0.1:8123/CONNECT.html"},
           {"http://127.0.0.1:8123/lab", "http://127.0.0.1:8123/lab/CONNECT.html"},
           {"http://127.0.0.1:8123/lab/", "http://127.0.0.1:8123/lab/CONNECT.html"},
           {"http://127.0.0.1:8123/lab/index.html?x=1#top",
            "http://127.0.0.1:8123/lab/index.html/CONNECT.html?x=1#top"},
           {"http://127.0.0.1:8123/a%20b", "http://127.0.0.1:8123/a%20b/CONNECT.html"},
       }) {
    EXPECT_EQ(guideAddress(labAddress(lab)), expected) << lab;
  }
}

}  // namespace
}  // namespace quav
