// The lab page in headless Chromium: the key in the address fragment, and what the page
// says when the fragment holds no readable key.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ChildProcess.h"
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

TEST(Base64url, MatchesTheStandardsExamplesWithoutPaddingInTheUrlAlphabet) {
  EXPECT_EQ(base64url(""), "");
  EXPECT_EQ(base64url("f"), "Zg");
  EXPECT_EQ(base64url("fo"), "Zm8");
  EXPECT_EQ(base64url("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64url("\xfb\xff\xbf"), "-_-_");
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
  friend void PrintTo(const Fragment& fragment, std::ostream* out) { *out << fragment.name; }
};

class LabPage : public ::testing::TestWithParam<Fragment> {
 protected:
  ServerProcess server;
};

TEST_P(LabPage, ShowsTheKeyOfTheFragmentOrSaysWhyNot) {
  ASSERT_NE(server.port(), 0) << server.process().standardError();
  const auto page = renderedPage(server.labAddress() + GetParam().fragment);
  ASSERT_NE(page.find("Find the key. Keep your audio local."), std::string::npos) << page;
  EXPECT_EQ(textOfElement(page, "key"), GetParam().key);
  EXPECT_NE(textOfElement(page, "key-message").find(GetParam().message), std::string::npos)
      << textOfElement(page, "key-message");
}

const std::string marker = "#quav-key=";
const std::string csharpMinor = R"({"format":"quav-key","version":1,"key":"C#","scale":"minor"})";
// As an editor may save it: a byte order mark, line breaks, members in another order, 1.0.
const std::string ebMajorEdited =
    "\xef\xbb\xbf{\n  \"scale\": \"major\",\n  \"key\": \"Eb\",\n  \"version\": 1.0,\n"
    "  \"format\": \"quav-key\"\n}\n";
const std::string notTheKeyMessage = "no readable QUAV key";

INSTANTIATE_TEST_SUITE_P(
    Fragments, LabPage,
    ::testing::Values(
        Fragment{"NoFragment", "", "", "Open a .quavkey file"},
        Fragment{"OtherFragment", "#top", "", "Open a .quavkey file"},
        Fragment{"CSharpMinor", marker + base64url(csharpMinor), "C# minor", "From your"},
        Fragment{"EditedEbMajor", marker + base64url(ebMajorEdited), "Eb major", "From your"},
        Fragment{"NotBase64url", marker + "e30=", "", notTheKeyMessage},
        Fragment{"NotUtf8", marker + base64url("{\"key\":\"\xff\xfe\"}"), "", notTheKeyMessage},
        Fragment{"NotJson", marker + base64url("format=quav-key"), "", notTheKeyMessage},
        Fragment{
            "NotANoteName",
            marker + base64url(R"({"format":"quav-key","version":1,"key":"Db","scale":"minor"})"),
            "", notTheKeyMessage},
        Fragment{
            "VersionTrue",
            marker + base64url(R"({"format":"quav-key","version":true,"key":"D","scale":"major"})"),
            "", notTheKeyMessage},
        Fragment{"ExtraMember",
                 marker + base64url(R"({"format":"quav-key","version":1,"key":"D","scale":"major",)"
                                    R"("audio":"x"})"),
                 "", notTheKeyMessage}),
    [](const auto& info) { return info.param.name; });

TEST(LabPageFragments, CoverTheUrlAlphabet) {
  EXPECT_NE(base64url(ebMajorEdited).find('_'), std::string::npos);
  EXPECT_NE(base64url("{\"key\":\"\xff\xfe\"}").find_first_of("-_"), std::string::npos);
}

}  // namespace
}  // namespace quav::lab::testing
