// tone_launcher on macOS (and on GNUstep): the launcher's delegate on NSApp.
#import <AppKit/AppKit.h>

#include <memory>

#include "Application.h"
#include "Launcher.h"

int main(int argc, char** argv) {
  NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
#ifdef GNUSTEP
  quav::toolkit::appkit::registerGNUstepDefaults();
#endif
  quav::toolkit::appkit::AppKitApplication application;
  // Declared after the application, so the window and the server process it made go first.
  const auto delegate = std::make_shared<quav::AppDelegate>(application);
  application.setDelegate(delegate.get());
  [NSApp setActivationPolicy:NSApplicationActivationPolicyRegular];
  const int status = application.run(argc, argv);
  [pool drain];
  return status;
}
