// The launcher's window and views on AppKit. Each C++ view owns its AppKit view; the window's
// content view and a stack view hold the C++ views they were given, so the launcher's pointers
// to a label or button stay good as long as the window.
#pragma once

#import <AppKit/AppKit.h>

#include <memory>
#include <vector>

#include "Bridge.h"
#include "Toolkit.h"

namespace quav::toolkit::appkit {

// What every view of this toolkit has: the AppKit view that shows it.
class AppKitView {
 public:
  virtual ~AppKitView() = default;
  virtual NSView* nsView() const = 0;
};

class LabelView final : public Label, public AppKitView {
 public:
  explicit LabelView(Retained<NSTextField> field) : field_(std::move(field)) {}
  void setStringValue(const std::string& text) override;
  void setFont(const Font& font) override;
  NSView* nsView() const override { return field_.get(); }

 private:
  Retained<NSTextField> field_;
};

class ButtonView final : public Button, public AppKitView {
 public:
  ButtonView(const std::string& title, std::function<void()> action);
  void setEnabled(bool enabled) override;
  NSView* nsView() const override { return button_.get(); }

 private:
  Retained<QuavCallback> action_;  // the button's target, which a button does not retain
  Retained<NSButton> button_;
};

// A vertical stack whose views sit on its leading edge.
class StackView final : public View, public AppKitView {
 public:
  StackView(std::vector<std::unique_ptr<View>> views, double spacing, const Rect& frame);
  NSView* nsView() const override { return stack_.get(); }

 private:
  std::vector<std::unique_ptr<View>> views_;
  Retained<NSStackView> stack_;
};

class AppWindow final : public Window {
 public:
  AppWindow(const Rect& contentRect, WindowStyle style);
  ~AppWindow() override;
  void setTitle(const std::string& title) override;
  void addSubview(std::unique_ptr<View> view) override;
  void makeKeyAndOrderFront() override;

 private:
  std::vector<std::unique_ptr<View>> subviews_;
  Retained<NSWindow> window_;
};

}  // namespace quav::toolkit::appkit
