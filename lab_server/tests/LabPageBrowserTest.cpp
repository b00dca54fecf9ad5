// The lab page in headless Chromium: the key in the address fragment, and what the page
// says when the fragment holds no readable key.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ServerProcess.h"

namespace quav::lab::testing {
namespace {

using quav::testing::ChildProcess;
using quav::testing::TemporaryDirectory;
using namespace std::chrono_literals;

// Unpadded base64url, as the launcher puts a key file's bytes into the fragment.
std::string base64url(std::string_view bytes) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      group = group << 8 | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0u);
    }
    for (std::size_t i = 0; i <= count; ++i) text += alphabet[(group >> (18 - 6 * i)) & 63];
  }
  return text;
}

// The page's DOM after its scripts ran, as headless Chromium sees it.
std::string renderedPage(const std::string& address) {
  TemporaryDirectory profile;
  ChildProcess browser(
      {CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile.path(), "--virtual-time-budget=2000", "--dump-dom", address});
  const auto ending = browser.waitForEnd(60s);
  EXPECT_TRUE(ending && ending->exitCode == 0) << browser.standardError();
  return browser.standardOutput();
}

// The text of the element with this id, which holds no markup of its own.
std::string textOfElement(const std::string& page, const std::string& id) {
  const std::regex element("id=\"" + id + "\"[^>]*>([^<]*)<");
  std::smatch match;
  return std::regex_search(page, match, element) ? match[1].str() : "<no element " + id + ">";
}

struct Fragment {
  std::string name;
  std::string fragment;
  std::string key;      // what the key element shows
  std::string message;  // a part of the message below it
};

TEST(LabPage, ShowsTheKeyOfTheFragmentOrSaysWhyNot) {
  const std::string marker = "#quav-key=";
  const std::string csharpMinor = R"({"format":"quav-key","version":1,"key":"C#","scale":"minor"})";
  // As an editor may save it: a byte order mark, line breaks, members in another order, 1.0.
  const std::string ebMajorEdited =
      "\xef\xbb\xbf{\n  \"scale\": \"major\",\n  \"key\": \"Eb\",\n  \"version\": 1.0,\n"
      "  \"format\": \"quav-key\"\n}\n";
  const std::string notTheKey = "no readable QUAV key";
  const std::vector<Fragment> cases = {
      {"no fragment", "", "", "Open a .quavkey file"},
      {"other fragment", "#top", "", "Open a .quavkey file"},
      {"C# minor", marker + base64url(csharpMinor), "C# minor", "From your"},
      {"edited Eb major", marker + base64url(ebMajorEdited), "Eb major", "From your"},
      {"not base64url", marker + "e30=", "", notTheKey},
      {"not UTF-8", marker + base64url("{\"key\":\"\xff\xfe\"}"), "", notTheKey},
      {"not JSON", marker + base64url("format=quav-key"), "", notTheKey},
      {"not a note name",
       marker + base64url(R"({"format":"quav-key","version":1,"key":"Db","scale":"minor"})"), "",
       notTheKey},
      {"version true",
       marker + base64url(R"({"format":"quav-key","version":true,"key":"D","scale":"major"})"), "",
       notTheKey},
      {"extra member",
       marker + base64url(R"({"format":"quav-key","version":1,"key":"D","scale":"major",)"
                          R"("audio":"x"})"),
       "", notTheKey},
  };
  ServerProcess server;
  ASSERT_NE(server.port(), 0) << server.process().standardError();
  for (const auto& [name, fragment, key, message] : cases) {
    SCOPED_TRACE(name);
    const auto page = renderedPage(server.labAddress() + fragment);
    ASSERT_NE(page.find("Find the key. Keep your audio local."), std::string::npos) << page;
    EXPECT_EQ(textOfElement(page, "key"), key);
    EXPECT_NE(textOfElement(page, "key-message").find(message), std::string::npos)
        << textOfElement(page, "key-message");
  }
}

}  // namespace
}  // namespace quav::lab::testing
