// What the launcher needs from the desktop, and nothing more.
//
// The launcher's behaviour (AppDelegate) is written once against this seam; each platform
// implements it once (gtk/ on Linux, appkit/ on macOS), and the tests implement it with a
// recording fake. Names follow AppKit's where that helps a reader.
//
// Threads: everything here is called on the main thread, except postToMainQueue (any thread),
// and the child process's output and termination handlers, which the toolkit may call on a
// background thread: they must only post work to the main queue.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quav::toolkit {

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

// The controls a window's frame offers. A window is never resizable: its content has the size
// the launcher gives it.
struct WindowStyle {
  bool titled = false;  // a title bar, which also carries the other controls
  bool closable = false;
  bool miniaturizable = false;
  bool operator==(const WindowStyle&) const = default;
};

struct Font {
  double size = 0;
  bool bold = false;
  static Font boldSystemFont(double size) { return Font{size, true}; }
  bool operator==(const Font&) const = default;
};

// A view lives in the window's view tree, which owns it; the launcher keeps plain pointers
// to the views it changes later.
class View {
 public:
  virtual ~View() = default;
};

class Label : public View {
 public:
  virtual void setStringValue(const std::string& text) = 0;
  virtual void setFont(const Font& font) = 0;
};

class Button : public View {
 public:
  virtual void setEnabled(bool enabled) = 0;
};

class Window {
 public:
  virtual ~Window() = default;
  virtual void setTitle(const std::string& title) = 0;
  // Adds a view to the window's content view, which takes ownership of it.
  virtual void addSubview(std::unique_ptr<View> view) = 0;
  virtual void makeKeyAndOrderFront() = 0;
};

// The only command a menu item of the launcher sends: quit the application, which asks the
// delegate's applicationWillTerminate on the way out.
enum class MenuAction { kTerminate };

struct MenuItem {
  std::string title;
  std::optional<MenuAction> action;
  std::string keyEquivalent;  // with the platform's command modifier ("q": Command-Q, Ctrl+Q)
  std::vector<MenuItem> submenu;
  bool operator==(const MenuItem&) const = default;
};

struct Menu {
  std::vector<MenuItem> items;
  bool operator==(const Menu&) const = default;
};

struct Alert {
  std::string messageText;
  std::string informativeText;
  bool operator==(const Alert&) const = default;
};

struct LaunchError {
  std::string localizedDescription;
};

// The Lab server's process. Configure it, then launch it once.
class ChildProcess {
 public:
  // Called with each non-empty chunk of the child's standard output, in the order read,
  // possibly on a background thread; never again after the end of that output.
  using OutputHandler = std::function<void(std::string chunk)>;
  // Called once, possibly on a background thread, after a launched child has ended for any
  // reason; never for a child that failed to launch.
  using TerminationHandler = std::function<void()>;

  virtual ~ChildProcess() = default;
  virtual void setExecutable(const std::filesystem::path& executable) = 0;
  virtual void setArguments(const std::vector<std::string>& arguments) = 0;
  // Standard output goes to a pipe that the toolkit reads, handing the chunks to the handler.
  virtual void setStandardOutputHandler(OutputHandler handler) = 0;
  virtual void setStandardErrorToNullDevice() = 0;
  virtual void setTerminationHandler(TerminationHandler handler) = 0;
  // Standard input, working directory and environment are the launcher's own.
  virtual std::optional<LaunchError> launch() = 0;
  virtual bool isRunning() const = 0;
  virtual void interrupt() = 0;  // SIGINT
};

// What the application tells its delegate, on the main thread.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() = 0;
  // One delivery of documents to open, as absolute URLs (file URLs for local files).
  virtual void applicationOpenURLs(const std::vector<std::string>& urls) = 0;
  virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
  virtual void applicationWillTerminate() = 0;
  virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
};

class Application {
 public:
  virtual ~Application() = default;

  // The application refers to its delegate without owning it.
  virtual void setDelegate(ApplicationDelegate* delegate) = 0;
  // Runs the event loop until the application quits; returns when it has. The arguments are
  // the process's own, for platforms that deliver documents to open on the command line.
  virtual int run(int argc, char** argv) = 0;

  virtual void setMainMenu(const Menu& menu) = 0;
  virtual void activateIgnoringOtherApps() = 0;

  // A new window is placed in the middle of the screen, ordered out until it is brought front.
  virtual std::unique_ptr<Window> makeWindow(const Rect& contentRect, WindowStyle style) = 0;
  virtual std::unique_ptr<Label> makeLabel(const std::string& text) = 0;
  virtual std::unique_ptr<Label> makeWrappingLabel(const std::string& text) = 0;
  virtual std::unique_ptr<Button> makeButton(const std::string& title,
                                             std::function<void()> action) = 0;
  // A vertical stack: the views top to bottom, each on its leading edge, `spacing` apart, the
  // stack at `frame` in the content view's coordinates (origin at the bottom left, as in AppKit).
  virtual std::unique_ptr<View> makeStackView(std::vector<std::unique_ptr<View>> views,
                                              double spacing, const Rect& frame) = 0;
  virtual std::unique_ptr<ChildProcess> makeChildProcess() = 0;

  // Shows an application-modal alert with one acknowledgement button; returns once the user
  // has dismissed it.
  virtual void runModalAlert(const Alert& alert) = 0;
  // Hands an address to the default handler (the web browser); true when it was handed on.
  virtual bool openURL(const std::string& url) = 0;
  // Runs the task later on the main thread, tasks in the order posted. Safe from any thread.
  virtual void postToMainQueue(std::function<void()> task) = 0;
  // The directory the application's resources ship in (backend/tonvex-server lies there);
  // nothing when the application cannot tell where it was installed.
  virtual std::optional<std::filesystem::path> resourceDirectory() const = 0;
};

}  // namespace quav::toolkit
