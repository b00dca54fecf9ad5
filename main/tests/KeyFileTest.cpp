#include "KeyFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FakeToolkit.h"

namespace quav {
namespace {

const std::string kValidKey = R"({"format":"quav-key","version":1,"key":"C","scale":"major"})";

// The valid key file's text with one member's value text replaced.
std::string with(const std::string& member, const std::string& value) {
  std::string text = kValidKey;
  const auto start = text.find(':', text.find('"' + member + '"')) + 1;
  return text.replace(start, text.find_first_of(",}", start) - start, value);
}

std::string utf16le(std::string_view ascii) {
  std::string text;
  for (const char c : ascii) text += {c, '\0'};
  return text;
}

TEST(LocalFilePath, NamesOnlyLocalFiles) {
  for (const auto& [url, path] : std::vector<std::pair<std::string, std::string>>{
           {"file:///home/me/C%20major.quavkey", "/home/me/C major.quavkey"},
           {"file://localhost/tmp/a.quavkey", "/tmp/a.quavkey"},
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

TEST(KeyFileExtension, IsQuavkeyInAnyLetterCase) {
  for (const char* path :
       {"/a/b.quavkey", "/a/b.QUAVKEY", "/a/b.QuavKey", "/a/b.c.quavkey", "/a/dir.quavkey/"}) {
    EXPECT_TRUE(hasKeyFileExtension(path)) << path;
  }
  for (const char* path : {"/a/b.json", "/a/quavkey", "/a/b.quavkey.json", "/a/b.quavkeys",
                           "/a/b.quavkey/c", "/a/b"}) {
    EXPECT_FALSE(hasKeyFileExtension(path)) << path;
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
           head + R"(,"scale":"major",})", "/* exported */" + kValidKey, utf16le(kValidKey),
           R"({"Format":"quav-key","version":1,"key":"C","scale":"major"})",
           R"({'format':'quav-key','version':1,'key':'C','scale':'major'})",
           kValidKey + std::string(1, '\0')}) {
    EXPECT_FALSE(isKeyFileContent(text)) << ::testing::PrintToString(text);
  }
}

std::string paddedTo(std::size_t size) {
  return kValidKey + std::string(size - kValidKey.size(), ' ');
}

TEST(ReadKeyFile, TakesRegularFilesWithinTheLimitExactlyAsStored) {
  fake::ScratchDirectory files;
  const std::string atLimit = paddedTo(kKeyFileSizeLimit);
  std::filesystem::create_directory(files / "directory.quavkey");
  // Opening a FIFO for reading waits for a writer; reading /dev/zero never ends.
  ASSERT_EQ(mkfifo((files / "fifo.quavkey").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", files / "zero.quavkey");
  std::filesystem::create_symlink(files.write("a.json", kValidKey), files / "link.quavkey");
  std::filesystem::create_symlink(files.write("b.json", paddedTo(kKeyFileSizeLimit + 1)),
                                  files / "large-link.quavkey");
  const std::pair<std::filesystem::path, std::optional<std::string>> cases[] = {
      {files.write("limit.quavkey", atLimit), atLimit},
      {files.write("over.quavkey", paddedTo(kKeyFileSizeLimit + 1)), std::nullopt},
      {files / "missing.quavkey", std::nullopt},
      {files / "directory.quavkey", std::nullopt},
      {files / "fifo.quavkey", std::nullopt},
      {files / "zero.quavkey", std::nullopt},
      {files / "link.quavkey", kValidKey},
      {files / "large-link.quavkey", std::nullopt}};
  for (const auto& [path, bytes] : cases) EXPECT_EQ(readKeyFile(path), bytes) << path;
}

}  // namespace
}  // namespace quav
