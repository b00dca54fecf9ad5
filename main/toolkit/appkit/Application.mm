#import "Application.h"

#include "ChildTask.h"
#include "QuitOnSignals.h"
#include "Views.h"

@implementation QuavApplicationDelegate

- (instancetype)initWithDelegate:(quav::toolkit::ApplicationDelegate*)delegate {
  if ((self = [super init])) {
    delegate_ = delegate;
    earlyDeliveries_ = [[NSMutableArray alloc] init];
  }
  return self;
}

- (void)dealloc {
  [earlyDeliveries_ release];
  [super dealloc];
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  delegate_->applicationDidFinishLaunching();
  NSArray* deliveries = [earlyDeliveries_ autorelease];
  earlyDeliveries_ = nil;
  for (NSArray* urls in deliveries) [self application:NSApp openURLs:urls];
}

- (void)application:(NSApplication*)application openURLs:(NSArray<NSURL*>*)urls {
  if (earlyDeliveries_) {
    [earlyDeliveries_ addObject:urls];
    return;
  }
  std::vector<std::string> addresses;
  for (NSURL* url in urls)
    addresses.push_back(quav::toolkit::appkit::stdString([url absoluteString]));
  delegate_->applicationOpenURLs(addresses);
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)application {
  return delegate_->applicationShouldTerminateAfterLastWindowClosed();
}

- (void)applicationWillTerminate:(NSNotification*)notification {
  delegate_->applicationWillTerminate();
}

- (BOOL)applicationShouldHandleReopen:(NSApplication*)application hasVisibleWindows:(BOOL)flag {
  return delegate_->applicationShouldHandleReopen(flag);
}

@end

namespace quav::toolkit::appkit {
namespace {

NSMenu* makeMenu(const std::vector<MenuItem>& items) {
  NSMenu* menu = [[[NSMenu alloc] initWithTitle:@""] autorelease];
  for (const auto& item : items) {
    // The quit item's action travels the responder chain to the application object.
    SEL action = item.action == MenuAction::kTerminate ? @selector(terminate:) : NULL;
    NSMenuItem* menuItem =
        [[[NSMenuItem alloc] initWithTitle:nsString(item.title)
                                    action:action
                             keyEquivalent:nsString(item.keyEquivalent)] autorelease];
    if (!item.submenu.empty()) [menuItem setSubmenu:makeMenu(item.submenu)];
    [menu addItem:menuItem];
  }
  return menu;
}

}  // namespace

AppKitApplication::AppKitApplication() {
  [NSApplication sharedApplication];
}

void AppKitApplication::setDelegate(ApplicationDelegate* delegate) {
  forwarder_ = Retained<QuavApplicationDelegate>(
      [[QuavApplicationDelegate alloc] initWithDelegate:delegate]);
  [NSApp setDelegate:forwarder_.get()];
}

int AppKitApplication::run(int /*argc*/, char** /*argv*/) {
  quitOnSignals();
  [NSApp run];
  return 0;
}

void AppKitApplication::setMainMenu(const Menu& menu) {
  [NSApp setMainMenu:makeMenu(menu.items)];
}

void AppKitApplication::activateIgnoringOtherApps() {
  [NSApp activateIgnoringOtherApps:YES];
}

std::unique_ptr<Window> AppKitApplication::makeWindow(const Rect& contentRect, WindowStyle style) {
  return std::make_unique<AppWindow>(contentRect, style);
}

std::unique_ptr<Label> AppKitApplication::makeLabel(const std::string& text) {
  return std::make_unique<LabelView>(retain([NSTextField labelWithString:nsString(text)]));
}

std::unique_ptr<Label> AppKitApplication::makeWrappingLabel(const std::string& text) {
  return std::make_unique<LabelView>(retain([NSTextField wrappingLabelWithString:nsString(text)]));
}

std::unique_ptr<Button> AppKitApplication::makeButton(const std::string& title,
                                                      std::function<void()> action) {
  return std::make_unique<ButtonView>(title, std::move(action));
}

std::unique_ptr<View> AppKitApplication::makeStackView(std::vector<std::unique_ptr<View>> views,
                                                       double spacing, const Rect& frame) {
  return std::make_unique<StackView>(std::move(views), spacing, frame);
}

std::unique_ptr<ChildProcess> AppKitApplication::makeChildProcess() {
  return std::make_unique<ChildTask>();
}

void AppKitApplication::runModalAlert(const Alert& alert) {
  Retained<NSAlert> panel([[NSAlert alloc] init]);
  [panel.get() setMessageText:nsString(alert.messageText)];
  [panel.get() setInformativeText:nsString(alert.informativeText)];
  [panel.get() runModal];
}

bool AppKitApplication::openURL(const std::string& url) {
#ifdef GNUSTEP
  return openWithDesktopDefault(url);
#else
  NSURL* address = [NSURL URLWithString:nsString(url)];
  return address && [[NSWorkspace sharedWorkspace] openURL:address];
#endif
}

// In the modes of an open alert too, as the main dispatch queue runs there.
void AppKitApplication::postToMainQueue(std::function<void()> task) {
  NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];  // callers may be on any thread
  Retained<QuavCallback> callback([[QuavCallback alloc] initWithCallable:std::move(task)]);
  [callback.get() performSelectorOnMainThread:@selector(perform:)
                                   withObject:nil
                                waitUntilDone:NO
                                        modes:mainRunLoopModes()];
  [pool drain];
}

std::optional<std::filesystem::path> AppKitApplication::resourceDirectory() const {
  NSURL* resources = [[NSBundle mainBundle] resourceURL];
  if (!resources) return std::nullopt;
  return std::filesystem::path(stdString([resources path]));
}

}  // namespace quav::toolkit::appkit
