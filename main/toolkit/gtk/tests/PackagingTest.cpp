// What `cmake --install` makes of the build: a tree that runs from any prefix, and a desktop
// that knows key files and opens them with the launcher.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "PrivateDesktop.h"

namespace quav::testing {
namespace {

namespace fs = std::filesystem;

const std::string kValidKey =
    "{\"format\": \"quav-key\", \"version\": 1, \"key\": \"Eb\", \"scale\": \"minor\"}";

bool isExecutable(const fs::path& path) {
  return access(path.c_str(), X_OK) == 0;
}

// Ended, also when nobody has collected its exit yet (the desktop started it, not the test).
bool hasEnded(pid_t pid) {
  const auto stat = contentsOf("/proc/" + std::to_string(pid) + "/stat");
  const auto afterName = stat.rfind(") ");
  return afterName == std::string::npos || stat.compare(afterName + 2, 1, "Z") == 0;
}

class PackagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto install = runToEnd(
        {CMAKE_COMMAND, "--install", QUAV_BUILD_DIR, "--prefix", prefix.path()}, "", {}, 120s);
    ASSERT_EQ(install.ending.exitCode, 0) << install.output << install.error;
  }

  fs::path installed(const std::string& name) const { return fs::path(prefix.path()) / name; }

  // The caches a desktop keeps of the installed file types and applications, as package
  // managers refresh them after an installation.
  void refreshDesktopCaches() const {
    for (const auto& [tool, directory] :
         {std::pair{"/usr/bin/update-mime-database", "share/mime"},
          std::pair{"/usr/bin/update-desktop-database", "share/applications"}}) {
      const auto run = runToEnd({tool, installed(directory).string()}, "");
      ASSERT_EQ(run.ending.exitCode, 0) << tool << ": " << run.error;
    }
  }

  TemporaryDirectory prefix;
  TemporaryDirectory documents;
};

TEST_F(PackagingTest, InstallsTheLauncherItsServerAndItsDesktopEntry) {
  EXPECT_TRUE(isExecutable(installed("bin/tone_launcher")));
  EXPECT_TRUE(isExecutable(installed("share/quav-lab/backend/tonvex-server")));
  EXPECT_TRUE(fs::exists(installed("share/mime/packages/app.quav.Lab.xml")));

  const auto entry = installed("share/applications/app.quav.Lab.desktop");
  const auto validation = runToEnd({"/usr/bin/desktop-file-validate", entry.string()}, "");
  EXPECT_EQ(validation.ending.exitCode, 0) << validation.output;
  EXPECT_EQ(validation.output, "");
  const auto text = contentsOf(entry);
  EXPECT_NE(text.find("\nExec=\"" + installed("bin/tone_launcher").string() + "\" %U\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nMimeType=application/x-quavkey;\n"), std::string::npos) << text;
}

TEST_F(PackagingTest, KeyFilesAreKnownByTheirExtensionInAnyLetterCase) {
  refreshDesktopCaches();
  const std::vector<std::string> environment{
      "XDG_DATA_HOME=" + (fs::path(documents.path()) / "data").string(),
      "XDG_DATA_DIRS=" + installed("share").string() + ":/usr/share"};
  for (const auto& [name, expected] :
       {std::pair{"song.quavkey", true}, std::pair{"SONG.QUAVKEY", true},
        std::pair{"song.QuavKey", true}, std::pair{"song.json", false},
        std::pair{"song.quavkey.txt", false}}) {
    SCOPED_TRACE(name);
    const auto path = fs::path(documents.path()) / name;
    std::ofstream(path) << kValidKey;
    const auto info =
        runToEnd({"/usr/bin/gio", "info", "--attributes=standard::content-type", path.string()}, "",
                 environment);
    ASSERT_EQ(info.ending.exitCode, 0) << info.error;
    EXPECT_EQ(
        info.output.find("standard::content-type: application/x-quavkey\n") != std::string::npos,
        expected)
        << info.output;
  }
}

// The whole way of a key file a user opens: the desktop picks the launcher by the file's type,
// the installed launcher starts the installed server, and the lab opens with the key.
TEST_F(PackagingTest, OpeningAKeyFileOnTheDesktopStartsTheInstalledLauncherWithIt) {
  refreshDesktopCaches();
  PrivateDesktop desktop({installed("share")});
  const auto key = fs::path(documents.path()) / "song.quavkey";
  std::ofstream(key) << kValidKey;

  // The launcher started for the file must not hold on to the output the test collects.
  const auto open = desktop.tool(
      {"/bin/sh", "-c", "exec /usr/bin/gio open \"$0\" > /dev/null 2>&1", key.string()});
  ASSERT_EQ(open.ending.exitCode, 0) << open.error;
  std::vector<std::string> windows;
  ASSERT_TRUE(eventually([&] { return !(windows = desktop.windowsNamed("QUAV Lab")).empty(); }));
  const pid_t launcher =
      std::stoi(desktop.tool({"xdotool", "getwindowpid", windows.front()}).output);
  const bool opened = eventually([&] { return desktop.opened().size() == 1; });

  desktop.tool({"xdotool", "windowactivate", "--sync", windows.front()});
  desktop.tool({"xdotool", "key", "--clearmodifiers", "ctrl+q"});
  const bool quit = eventually([&] { return hasEnded(launcher); });
  if (!quit) kill(launcher, SIGTERM);

  ASSERT_TRUE(opened);
  const auto address = desktop.opened().front();
  EXPECT_TRUE(address.starts_with("http://127.0.0.1:")) << address;
  EXPECT_NE(address.find("#quav-key="), std::string::npos) << address;
  EXPECT_TRUE(quit);
}

}  // namespace
}  // namespace quav::testing
