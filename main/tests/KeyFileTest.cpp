#include "KeyFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "ChildProcess.h"

namespace quav {
namespace {

// A key file's JSON text, built from the text of each member's value.
struct Members {
  std::string format = R"("quav-key")";
  std::string version = "1";
  std::string key = R"("C")";
  std::string scale = R"("major")";
  std::string text() const {
    return R"({"format":)" + format + R"(,"version":)" + version + R"(,"key":)" + key +
           R"(,"scale":)" + scale + "}";
  }
};

const std::string kValidKey = Members{}.text();

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

TEST(KeyFileContent, IsCheckedStrictly) {
  for (const std::string& accepted : {
           kValidKey,
           std::string("\n {\r\n\t\"scale\" : \"minor\",\n \"key\": \"Bb\" , \"version\":1,"
                       "\"format\":\"quav-key\"  }\n\n"),
           Members{.version = "1.0"}.text(), Members{.version = "1e0"}.text(),
           Members{.key = R"("C#")"}.text(), Members{.key = R"("Eb")"}.text(),
           Members{.key = R"("\u0046#")"}.text(),
           "\xEF\xBB\xBF" + kValidKey,  // a UTF-8 byte order mark is ignored, as JSON allows
       }) {
    EXPECT_TRUE(isKeyFileContent(accepted)) << accepted;
  }
  for (const std::string& rejected : {
           std::string(),
           "[" + kValidKey + "]",
           std::string("1"),
           std::string(R"("quav-key")"),
           kValidKey + kValidKey,
           std::string(R"({"format":"quav-key","version":1,"key":"C","scale":"major","tempo":1})"),
           std::string(R"({"format":"quav-key","version":1,"key":"C"})"),
           std::string(R"({"Format":"quav-key","version":1,"key":"C","scale":"major"})"),
           std::string(
               R"({"format":"quav-key","version":1,"key":"C","scale":"major","scale":"major"})"),
           Members{.format = R"("QUAV-KEY")"}.text(),
           Members{.format = "1"}.text(),
           Members{.version = "true"}.text(),
           Members{.version = R"("1")"}.text(),
           Members{.version = "2"}.text(),
           Members{.version = "1.5"}.text(),
           Members{.version = "null"}.text(),
           Members{.version = "01"}.text(),
           Members{.key = R"("Db")"}.text(),
           Members{.key = R"("A#")"}.text(),
           Members{.key = R"("c")"}.text(),
           Members{.key = R"("C ")"}.text(),
           Members{.key = "0"}.text(),
           Members{.key = "\"C\xFF\""}.text(),
           Members{.scale = R"("Major")"}.text(),
           Members{.scale = R"("MINOR")"}.text(),
           "/* exported */" + kValidKey,
           std::string(R"({"format":"quav-key","version":1,"key":"C","scale":"major",})"),
           std::string(R"({'format':'quav-key','version':1,'key':'C','scale':'major'})"),
           utf16le(kValidKey),
           kValidKey + std::string(1, '\0'),
       }) {
    EXPECT_FALSE(isKeyFileContent(rejected)) << ::testing::PrintToString(rejected);
  }
}

class KeyFileReadingTest : public ::testing::Test {
 protected:
  std::filesystem::path pathOf(const std::string& name) const {
    return std::filesystem::path(directory_.path()) / name;
  }
  std::filesystem::path write(const std::string& name, const std::string& bytes) {
    std::ofstream(pathOf(name), std::ios::binary) << bytes;
    return pathOf(name);
  }

 private:
  testing::TemporaryDirectory directory_;
};

std::string paddedTo(std::size_t size) {
  return kValidKey + std::string(size - kValidKey.size(), ' ');
}

TEST_F(KeyFileReadingTest, TakesTheBytesExactlyAsStoredUpToTheLimit) {
  const std::string bytes = paddedTo(kKeyFileSizeLimit);
  EXPECT_EQ(readKeyFile(write("limit.quavkey", bytes)), bytes);
  EXPECT_EQ(readKeyFile(write("over.quavkey", paddedTo(kKeyFileSizeLimit + 1))), std::nullopt);
}

TEST_F(KeyFileReadingTest, RejectsWhatIsNoRegularFileWithoutBlocking) {
  EXPECT_EQ(readKeyFile(pathOf("missing.quavkey")), std::nullopt);

  std::filesystem::create_directory(pathOf("directory.quavkey"));
  EXPECT_EQ(readKeyFile(pathOf("directory.quavkey")), std::nullopt);

  // Opening a FIFO for reading waits for a writer; reading /dev/zero never ends.
  ASSERT_EQ(mkfifo(pathOf("fifo.quavkey").c_str(), 0600), 0);
  EXPECT_EQ(readKeyFile(pathOf("fifo.quavkey")), std::nullopt);
  std::filesystem::create_symlink("/dev/zero", pathOf("zero.quavkey"));
  EXPECT_EQ(readKeyFile(pathOf("zero.quavkey")), std::nullopt);
}

TEST_F(KeyFileReadingTest, FollowsSymbolicLinksToTheFileRead) {
  std::filesystem::create_symlink(write("target.json", kValidKey), pathOf("link.quavkey"));
  EXPECT_EQ(readKeyFile(pathOf("link.quavkey")), kValidKey);

  std::filesystem::create_symlink(write("large.json", paddedTo(kKeyFileSizeLimit + 1)),
                                  pathOf("large-link.quavkey"));
  EXPECT_EQ(readKeyFile(pathOf("large-link.quavkey")), std::nullopt);
}

}  // namespace
}  // namespace quav
