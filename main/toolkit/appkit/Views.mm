#import "Views.h"

namespace quav::toolkit::appkit {
namespace {

NSView* nsViewOf(View& view) {
  auto* appKitView = dynamic_cast<AppKitView*>(&view);
  return appKitView ? appKitView->nsView() : nil;
}

NSRect nsRect(const Rect& rect) {
  return NSMakeRect(rect.x, rect.y, rect.width, rect.height);
}

NSWindowStyleMask styleMask(WindowStyle style) {
  NSWindowStyleMask mask = NSWindowStyleMaskBorderless;
  if (style.titled) mask |= NSWindowStyleMaskTitled;
  if (style.closable) mask |= NSWindowStyleMaskClosable;
  if (style.miniaturizable) mask |= NSWindowStyleMaskMiniaturizable;
  return mask;
}

}  // namespace

void LabelView::setStringValue(const std::string& text) {
  [field_.get() setStringValue:nsString(text)];
}

void LabelView::setFont(const Font& font) {
  [field_.get() setFont:font.bold ? [NSFont boldSystemFontOfSize:font.size]
                                  : [NSFont systemFontOfSize:font.size]];
}

ButtonView::ButtonView(const std::string& title, std::function<void()> action)
    : action_([[QuavCallback alloc] initWithCallable:std::move(action)]),
      button_(retain([NSButton buttonWithTitle:nsString(title)
                                        target:action_.get()
                                        action:@selector(perform:)])) {}

void ButtonView::setEnabled(bool enabled) {
  [button_.get() setEnabled:enabled];
}

StackView::StackView(std::vector<std::unique_ptr<View>> views, double spacing, const Rect& frame)
    : views_(std::move(views)) {
  NSMutableArray* arranged = [NSMutableArray array];
  for (const auto& view : views_) [arranged addObject:nsViewOf(*view)];
  stack_ = retain([NSStackView stackViewWithViews:arranged]);
  [stack_.get() setOrientation:NSUserInterfaceLayoutOrientationVertical];
  [stack_.get() setAlignment:NSLayoutAttributeLeading];
  [stack_.get() setSpacing:spacing];
  [stack_.get() setFrame:nsRect(frame)];
}

AppWindow::AppWindow(const Rect& contentRect, WindowStyle style)
    : window_([[NSWindow alloc] initWithContentRect:nsRect(contentRect)
                                          styleMask:styleMask(style)
                                            backing:NSBackingStoreBuffered
                                              defer:NO]) {
  // Owned here: a window that released itself when closed would be released twice.
  [window_.get() setReleasedWhenClosed:NO];
  [window_.get() center];
}

AppWindow::~AppWindow() {
  [window_.get() orderOut:nil];
}

void AppWindow::setTitle(const std::string& title) {
  [window_.get() setTitle:nsString(title)];
}

void AppWindow::addSubview(std::unique_ptr<View> view) {
  [[window_.get() contentView] addSubview:nsViewOf(*view)];
  subviews_.push_back(std::move(view));
}

void AppWindow::makeKeyAndOrderFront() {
  [window_.get() makeKeyAndOrderFront:nil];
}

}  // namespace quav::toolkit::appkit
