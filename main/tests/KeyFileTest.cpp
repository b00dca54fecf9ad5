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

struct Location {
  friend void PrintTo(const Location& value, std::ostream* out) { *out << value.url; }
  std::string url;
  std::optional<std::string> path;
};

class LocalFilePathTest : public ::testing::TestWithParam<Location> {};

TEST_P(LocalFilePathTest, NamesOnlyLocalFiles) {
  const auto path = localFilePath(GetParam().url);
  ASSERT_EQ(path.has_value(), GetParam().path.has_value()) << GetParam().url;
  if (path) {
    EXPECT_EQ(path->string(), *GetParam().path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Urls, LocalFilePathTest,
    ::testing::Values(Location{"file:///home/me/C%20major.quavkey", "/home/me/C major.quavkey"},
                      Location{"file://localhost/tmp/a.quavkey", "/tmp/a.quavkey"},
                      Location{"FILE://LocalHost/tmp/a.quavkey", "/tmp/a.quavkey"},
                      Location{"file:/tmp/a.quavkey", "/tmp/a.quavkey"},
                      Location{"file:///tmp/a.quavkey?x#y", "/tmp/a.quavkey"},
                      Location{"file://server/share/a.quavkey", std::nullopt},
                      Location{"file:a.quavkey", std::nullopt},
                      Location{"file:///tmp/a%00.quavkey", std::nullopt},
                      Location{"http://127.0.0.1/a.quavkey", std::nullopt},
                      Location{"/tmp/a.quavkey", std::nullopt},
                      Location{"not a url.quavkey", std::nullopt}));

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

struct Content {
  friend void PrintTo(const Content& value, std::ostream* out) { *out << value.name; }
  std::string name;
  std::string bytes;
  bool accepted;
};

class KeyFileContentTest : public ::testing::TestWithParam<Content> {};

TEST_P(KeyFileContentTest, IsCheckedStrictly) {
  EXPECT_EQ(isKeyFileContent(GetParam().bytes), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, KeyFileContentTest,
    ::testing::Values(Content{"Minimal", kValidKey, true},
                      Content{"OtherOrderAndWhitespace",
                              "\n {\r\n\t\"scale\" : \"minor\",\n \"key\": \"Bb\" , \"version\":1,"
                              "\"format\":\"quav-key\"  }\n\n",
                              true},
                      Content{"VersionAsDecimal", Members{.version = "1.0"}.text(), true},
                      Content{"VersionWithExponent", Members{.version = "1e0"}.text(), true},
                      Content{"VersionAsTenTenths", Members{.version = "10e-1"}.text(), true},
                      Content{"SharpKey", Members{.key = R"("C#")"}.text(), true},
                      Content{"FlatKey", Members{.key = R"("Eb")"}.text(), true},
                      Content{"OtherFlatKey", Members{.key = R"("Bb")"}.text(), true},
                      Content{"EscapedName", Members{.key = R"("\u0046#")"}.text(), true},
                      // A UTF-8 byte order mark is ignored, as JSON allows.
                      Content{"ByteOrderMark", "\xEF\xBB\xBF" + kValidKey, true}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Rejected, KeyFileContentTest,
    ::testing::Values(
        Content{"Empty", "", false}, Content{"OnlyWhitespace", " \n", false},
        Content{"TopLevelArray", "[" + kValidKey + "]", false},
        Content{"TopLevelNumber", "1", false}, Content{"TopLevelString", R"("quav-key")", false},
        Content{"TwoObjects", kValidKey + kValidKey, false},
        Content{"ExtraMember",
                R"({"format":"quav-key","version":1,"key":"C","scale":"major",)"
                R"("tempo":120})",
                false},
        Content{"MissingMember", R"({"format":"quav-key","version":1,"key":"C"})", false},
        Content{"MemberNameInOtherCase",
                R"({"Format":"quav-key","version":1,"key":"C","scale":"major"})", false},
        Content{"MemberNamedTwice",
                R"({"format":"quav-key","version":1,"key":"C","key":"D","scale":"major"})", false},
        Content{"MemberNamedTwiceAlike",
                R"({"format":"quav-key","version":1,"key":"C","scale":"major","scale":"major"})",
                false},
        Content{"FormatInCapitals", Members{.format = R"("QUAV-KEY")"}.text(), false},
        Content{"FormatNotAString", Members{.format = "1"}.text(), false},
        Content{"VersionTrue", Members{.version = "true"}.text(), false},
        Content{"VersionAsString", Members{.version = R"("1")"}.text(), false},
        Content{"VersionTwo", Members{.version = "2"}.text(), false},
        Content{"VersionNearOne", Members{.version = "1.5"}.text(), false},
        Content{"VersionNull", Members{.version = "null"}.text(), false},
        Content{"VersionLeadingZero", Members{.version = "01"}.text(), false},
        Content{"KeyDb", Members{.key = R"("Db")"}.text(), false},
        Content{"KeyASharp", Members{.key = R"("A#")"}.text(), false},
        Content{"KeyLowerCase", Members{.key = R"("c")"}.text(), false},
        Content{"KeyTrailingSpace", Members{.key = R"("C ")"}.text(), false},
        Content{"KeyNotAString", Members{.key = "0"}.text(), false},
        Content{"ScaleCapitalised", Members{.scale = R"("Major")"}.text(), false},
        Content{"ScaleInCapitals", Members{.scale = R"("MINOR")"}.text(), false},
        Content{"BlockComment", "/* exported */" + kValidKey, false},
        Content{"LineComment", kValidKey + "// exported\n", false},
        Content{"TrailingComma", R"({"format":"quav-key","version":1,"key":"C","scale":"major",})",
                false},
        Content{"SingleQuotes", R"({'format':'quav-key','version':1,'key':'C','scale':'major'})",
                false},
        Content{"InvalidUtf8InString", Members{.key = "\"C\xFF\""}.text(), false},
        Content{"Utf16", utf16le(kValidKey), false},
        Content{"Utf16WithByteOrderMark", "\xFF\xFE" + utf16le(kValidKey), false},
        Content{"TrailingNul", kValidKey + std::string(1, '\0'), false}),
    [](const auto& info) { return info.param.name; });

class KeyFileReadingTest : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = std::filesystem::path(directory_.path()) / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path pathOf(const std::string& name) const {
    return std::filesystem::path(directory_.path()) / name;
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
