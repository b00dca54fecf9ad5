// The launcher's pure units: the server's announcement, the addresses it opens, key files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "FakeToolkit.h"
#include "KeyFile.h"
#include "ReadinessScan.h"

namespace quav {
namespace {

// Base64url, the key address and the guide address are checked by main/fuzz's lab address
// target, for any key bytes and any accepted lab address; its seeds hold the path cases.

// Each maximal ill-formed subsequence becomes one U+FFFD.
TEST(Utf8Decoding, ReplacesEachMaximalIllFormedSubsequenceOnce) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF", "\x7F\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF"},
      // The Unicode Standard's example in section 3.9: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
      {"a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
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
    EXPECT_EQ(announcedLabAddress(prefix + address).value().buffer(), address);
  }
  for (const std::string address :
       {"http://localhost:8123/", "http://127.0.0.2:8123/", "http://[::1]:8123/",
        "http://127.000.0.1/", "http://127.0.0.1.example/", "http://127.0.0.1x/",
        "http://127.0.0.1:80x/", "127.0.0.1:8123", "localhost:8123", "//127.0.0.1:8123/",
        "http://127.0.0.1:8123/\r", "http://127.0.0.1:8123/a b", " http://127.0.0.1/", ""}) {
    EXPECT_FALSE(announcedLabAddress(prefix + address)) << address;
  }
  EXPECT_FALSE(announcedLabAddress("quav tonvex is ready: http://127.0.0.1/"));
  EXPECT_FALSE(announcedLabAddress("12:00 QUAV Tonvex is ready: http://127.0.0.1/"));
}

const std::string kValidKey = R"({"format":"quav-key","version":1,"key":"C","scale":"major"})";

// The valid key file's text with one member's value text replaced.
std::string with(const std::string& member, const std::string& value) {
  std::string text = kValidKey;
  const auto start = text.find(':', text.find('"' + member + '"')) + 1;
  return text.replace(start, text.find_first_of(",}", start) - start, value);
}

TEST(LocalFilePath, NamesOnlyLocalFiles) {
  for (const auto& [url, path] : std::vector<std::pair<std::string, std::string>>{
           {"file:///home/me/C%20major.quavkey", "/home/me/C major.quavkey"},
           {"FILE://LocalHost/tmp/a.quavkey", "/tmp/a.quavkey"},
           {"file:/tmp/a.quavkey", "/tmp/a.quavkey"},
           {"file:///tmp/a.quavkey?x#y", "/tmp/a.quavkey"}}) {
    EXPECT_EQ(localFilePath(url), std::filesystem::path(path)) << url;
  }
  for (const char* url :
       {"file://server/share/a.quavkey", "file:a.quavkey", "file:///tmp/a%00.quavkey",
        "http://127.0.0.1/a.quavkey", "/tmp/a.quavkey", "not a url.quavkey"}) {
    EXPECT_EQ(localFilePath(url), std::nullopt) << url;
  }
}

TEST(KeyFileContent, TakesOnlyTheListedValues) {
  const struct {
    std::string member;
    std::vector<std::string> accepted, rejected;
  } cases[] = {{"format", {R"("quav-key")"}, {R"("QUAV-KEY")", "1"}},
               {"version", {"1", "1.0", "1e0"}, {"true", R"("1")", "2", "1.5", "null", "01"}},
               {"key",
                {R"("C#")", R"("Eb")", R"("\u0046#")"},
                {R"("Db")", R"("A#")", R"("c")", R"("C ")", "0", "\"C\xFF\""}},
               {"scale", {R"("minor")"}, {R"("Major")", R"("MINOR")"}}};
  for (const auto& [member, accepted, rejected] : cases) {
    for (const auto& value : accepted) EXPECT_TRUE(isKeyFileContent(with(member, value))) << value;
    for (const auto& value : rejected) EXPECT_FALSE(isKeyFileContent(with(member, value))) << value;
  }
}

TEST(KeyFileContent, IsStrictJsonOfOneObjectWithExactlyTheFourMembers) {
  EXPECT_TRUE(isKeyFileContent("\xEF\xBB\xBF" + kValidKey));  // a byte order mark, as JSON allows
  EXPECT_TRUE(
      isKeyFileContent("\n {\r\n\t\"scale\" : \"minor\",\n \"key\": \"Bb\" , \"version\":1, "
                       "\"format\":\"quav-key\"}"));
  const std::string head = R"({"format":"quav-key","version":1,"key":"C")";
  for (const auto& text : std::vector<std::string>{
           "", "1", R"("quav-key")", "[" + kValidKey + "]", kValidKey + kValidKey, head + "}",
           head + R"(,"scale":"major","tempo":1})", head + R"(,"scale":"major","scale":"major"})",
           head + R"(,"scale":"major",})", "/* exported */" + kValidKey,
           R"({"Format":"quav-key","version":1,"key":"C","scale":"major"})",
           R"({'format':'quav-key','version':1,'key':'C','scale':'major'})",
           kValidKey + std::string(1, '\0')}) {
    EXPECT_FALSE(isKeyFileContent(text)) << ::testing::PrintToString(text);
  }
}

TEST(ReadKeyFile, TakesRegularFilesWithinTheLimitExactlyAsStored) {
  fake::ScratchDirectory files;
  const auto at = [&](const char* name) { return files.path / name; };
  const std::string atLimit = kValidKey + std::string(4096 - kValidKey.size(), ' ');  // 4 KiB
  files.write("over.quavkey", atLimit + " ");
  std::filesystem::create_directory(at("directory.quavkey"));
  // Opening a FIFO for reading waits for a writer; reading /dev/zero never ends.
  ASSERT_EQ(mkfifo(at("fifo.quavkey").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", at("zero.quavkey"));
  std::filesystem::create_symlink(files.write("a.json", kValidKey), at("link.quavkey"));
  std::filesystem::create_symlink(at("over.quavkey"), at("large-link.quavkey"));
  EXPECT_EQ(readKeyFile(files.write("limit.quavkey", atLimit)), atLimit);
  EXPECT_EQ(readKeyFile(at("link.quavkey")), kValidKey);
  for (const char* name : {"over.quavkey", "missing.quavkey", "directory.quavkey", "fifo.quavkey",
                           "zero.quavkey", "large-link.quavkey"}) {
    EXPECT_EQ(readKeyFile(at(name)), std::nullopt) << name;
  }
}

// A name that is a key file when its size is asked and a much longer one, still a valid key
// file, when it is read: what a file that grows looks like, or one whose size means nothing.
TEST(ReadKeyFile, StopsReadingPastTheLimitWhateverTheSizeSaid) {
  fake::ScratchDirectory files;
  const auto name = files.write("key.quavkey", kValidKey);
  const auto longer = files.write("longer", kValidKey + std::string(64 * 1024, ' '));
  std::atomic<bool> done = false;
  std::thread swapper([&] {
    while (!done) renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, longer.c_str(), RENAME_EXCHANGE);
  });
  for (int attempt = 0; attempt < 20000; ++attempt) {
    const auto bytes = readKeyFile(name);
    if (bytes && *bytes != kValidKey) ADD_FAILURE() << "read " << bytes->size() << " bytes";
  }
  done = true;
  swapper.join();
}

}  // namespace
}  // namespace quav
