#include "Launcher.h"

#include <utility>

#include "KeyFile.h"
#include "LabAddress.h"
#include "ReadinessScan.h"

namespace quav {

namespace {

constexpr const char* kStartingText = "Starting QUAV Lab\u2026";
constexpr const char* kReadyText =
    "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.";
constexpr const char* kLaunchFailedText = "Could not start QUAV Lab: ";
constexpr const char* kNoResourcesText = "The launcher could not find where it is installed.";
constexpr const char* kStoppedText = "QUAV Lab stopped. Quit and reopen this app to restart.";

const toolkit::Alert kRejectionAlert{
    "This key file could not be opened.",
    "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune.",
};

toolkit::Menu mainMenu() {
  const toolkit::MenuItem quitItem{"Quit QUAV Lab", toolkit::MenuAction::kTerminate, "q", {}};
  const toolkit::MenuItem applicationItem{"", std::nullopt, "", {quitItem}};
  return toolkit::Menu{{applicationItem}};
}

// Runs an operation of the delegate if it still exists; the window's buttons and the server's
// callbacks must not keep it alive.
template <typename Operation>
std::function<void()> weakly(std::weak_ptr<AppDelegate> delegate, Operation operation) {
  return [delegate = std::move(delegate), operation = std::move(operation)] {
    if (const auto strong = delegate.lock()) operation(*strong);
  };
}

}  // namespace

AppDelegate::AppDelegate(toolkit::Application& application) : application_(application) {}

void AppDelegate::applicationDidFinishLaunching() {
  buildMenuAndWindow();
  startServer();
}

void AppDelegate::buildMenuAndWindow() {
  application_.setMainMenu(mainMenu());

  window_ = application_.makeWindow({0, 0, 480, 270},
                                    {.titled = true, .closable = true, .miniaturizable = true});
  window_->setTitle("QUAV Lab");

  auto headline = application_.makeLabel("Find the key. Keep your audio local.");
  headline->setFont(toolkit::Font::boldSystemFont(20));
  auto intro = application_.makeWrappingLabel(
      "Analyze beats without installing Python or opening Terminal or Codex. DAW connections "
      "are optional and start when you press Find in QUAV Lab.");
  auto statusLine = application_.makeWrappingLabel(kStartingText);
  status_ = statusLine.get();
  auto open = application_.makeButton(
      "Open QUAV Lab", weakly(weak_from_this(), [](AppDelegate& self) { self.openLab(); }));
  openButton_ = open.get();
  openButton_->setEnabled(false);
  auto guide = application_.makeButton(
      "Setup & optional DAW connections",
      weakly(weak_from_this(), [](AppDelegate& self) { self.openGuide(); }));

  std::vector<std::unique_ptr<toolkit::View>> views;
  views.push_back(std::move(headline));
  views.push_back(std::move(intro));
  views.push_back(std::move(statusLine));
  views.push_back(std::move(open));
  views.push_back(std::move(guide));
  window_->addSubview(application_.makeStackView(std::move(views), 18, {28, 25, 424, 220}));

  window_->makeKeyAndOrderFront();
  application_.activateIgnoringOtherApps();
}

void AppDelegate::startServer() {
  // Never a server found relative to the working directory, which may hold anything.
  const auto resources = application_.resourceDirectory();
  if (!resources) {
    status_->setStringValue(std::string(kLaunchFailedText) + kNoResourcesText);
    return;
  }
  child_ = application_.makeChildProcess();
  child_->setExecutable(*resources / "backend" / "tonvex-server");
  child_->setArguments({"--no-browser", "--port", "0"});

  // The toolkit may call these on a background thread: they only hand work to the main queue.
  toolkit::Application& application = application_;
  const std::weak_ptr<AppDelegate> delegate = weak_from_this();
  child_->setStandardOutputHandler([&application, delegate](std::string chunk) {
    application.postToMainQueue(
        weakly(delegate, [chunk = std::move(chunk)](AppDelegate& self) { self.receive(chunk); }));
  });
  child_->setStandardErrorToNullDevice();
  child_->setTerminationHandler([&application, delegate] {
    application.postToMainQueue(weakly(delegate, [](AppDelegate& self) {
      self.status_->setStringValue(kStoppedText);
      self.openButton_->setEnabled(false);
    }));
  });

  if (const auto error = child_->launch()) {
    status_->setStringValue(kLaunchFailedText + error->localizedDescription);
  }
}

void AppDelegate::receive(const std::string& chunk) {
  if (!appendWithinCap(output_, chunk)) return;
  // Decoded whole each time, so a character split between chunks is read once complete.
  const std::string text = decodeUtf8(output_);
  for (const std::string_view piece : splitLines(text)) {
    auto labAddress = announcedLabAddress(piece);
    if (!labAddress || localURL_) continue;  // the first accepted address stays for good
    becomeReady(std::move(*labAddress));
  }
}

void AppDelegate::becomeReady(boost::urls::url labAddress) {
  localURL_ = std::move(labAddress);
  status_->setStringValue(kReadyText);
  openButton_->setEnabled(true);
  openLab();
}

void AppDelegate::openLab() {
  if (!localURL_) return;
  if (!pendingKey_) {
    application_.openURL(std::string(localURL_->buffer()));
    return;
  }
  const std::string address = keyAddress(*localURL_, *pendingKey_);
  // The key goes out once, whether or not the browser takes the address.
  pendingKey_.reset();
  application_.openURL(address);
}

void AppDelegate::openGuide() {
  if (!localURL_) return;
  application_.openURL(guideAddress(*localURL_));
}

void AppDelegate::applicationOpenURLs(const std::vector<std::string>& urls) {
  // Anything but one local file with the key file extension is not meant for the launcher.
  if (urls.size() != 1) return;
  const auto path = localFilePath(urls.front());
  if (!path || !hasKeyFileExtension(*path)) return;

  auto key = readKeyFile(*path);
  if (!key) {
    application_.runModalAlert(kRejectionAlert);
    return;
  }
  pendingKey_ = std::move(*key);
  if (localURL_) openLab();
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  return true;
}

void AppDelegate::applicationWillTerminate() {
  // The server is asked to stop; the launcher does not wait for it.
  if (child_ && child_->isRunning()) child_->interrupt();
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
  if (window_) window_->makeKeyAndOrderFront();
  openLab();
  return true;
}

}  // namespace quav
