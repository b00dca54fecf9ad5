// The launcher's application on AppKit: NSApp, with an application delegate that forwards
// AppKit's events to the launcher's portable delegate.
#pragma once

#import <AppKit/AppKit.h>

#include "Bridge.h"
#include "Toolkit.h"

// Documents that arrive before the launch has finished (AppKit opens those given at launch
// first) are handed on right after it, so the window and the server are there before any alert,
// as on the GTK shell.
@interface QuavApplicationDelegate : NSObject <NSApplicationDelegate> {
  quav::toolkit::ApplicationDelegate* delegate_;
  NSMutableArray* earlyDeliveries_;  // of URL arrays; nil once the launch has finished
}
- (instancetype)initWithDelegate:(quav::toolkit::ApplicationDelegate*)delegate;
- (void)application:(NSApplication*)application openURLs:(NSArray<NSURL*>*)urls;
@end

namespace quav::toolkit::appkit {

class AppKitApplication final : public Application {
 public:
  // Makes the shared application object.
  AppKitApplication();

  void setDelegate(ApplicationDelegate* delegate) override;
  // AppKit ends the process when the application terminates: this never returns.
  int run(int argc, char** argv) override;

  void setMainMenu(const Menu& menu) override;
  void activateIgnoringOtherApps() override;

  std::unique_ptr<Window> makeWindow(const Rect& contentRect, WindowStyle style) override;
  std::unique_ptr<Label> makeLabel(const std::string& text) override;
  std::unique_ptr<Label> makeWrappingLabel(const std::string& text) override;
  std::unique_ptr<Button> makeButton(const std::string& title,
                                     std::function<void()> action) override;
  std::unique_ptr<View> makeStackView(std::vector<std::unique_ptr<View>> views, double spacing,
                                      const Rect& frame) override;
  std::unique_ptr<ChildProcess> makeChildProcess() override;

  void runModalAlert(const Alert& alert) override;
  bool openURL(const std::string& url) override;
  void postToMainQueue(std::function<void()> task) override;
  std::optional<std::filesystem::path> resourceDirectory() const override;

 private:
  Retained<QuavApplicationDelegate> forwarder_;
};

}  // namespace quav::toolkit::appkit
