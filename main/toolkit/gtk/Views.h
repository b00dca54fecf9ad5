// The launcher's window and views on GTK 4.
//
// The window's content is laid out the way AppKit lays out a content view: each subview sits
// at its frame, and the content keeps its size whatever its subviews would like, so text never
// widens or lengthens the window.
#pragma once

#include <gtkmm.h>

#include <memory>
#include <optional>
#include <vector>

#include "Toolkit.h"

namespace quav::toolkit::gtk {

// What every view of this toolkit has: the widget that shows it.
class WidgetView {
 public:
  virtual ~WidgetView() = default;
  virtual Gtk::Widget& widget() = 0;
  // Where the view wants to sit in its content view; absent: at the top left, at its natural
  // size.
  virtual std::optional<Rect> frame() const { return std::nullopt; }
  // Lines the view up on the leading edge of its stack, at its natural width.
  virtual void alignLeading() { widget().set_halign(Gtk::Align::START); }
};

// The widget of a view made by this toolkit; nullptr for a view from elsewhere.
Gtk::Widget* widgetOf(View& view);

class LabelView final : public Label, public WidgetView {
 public:
  LabelView(const std::string& text, bool wrapping);
  void setStringValue(const std::string& text) override;
  void setFont(const Font& font) override;
  Gtk::Widget& widget() override { return label_; }
  void alignLeading() override;

 private:
  Gtk::Label label_;
};

class ButtonView final : public Button, public WidgetView {
 public:
  ButtonView(const std::string& title, std::function<void()> action);
  void setEnabled(bool enabled) override;
  Gtk::Widget& widget() override { return button_; }

 private:
  Gtk::Button button_;
};

// A vertical box whose views sit on its leading edge.
class StackBoxView final : public View, public WidgetView {
 public:
  StackBoxView(std::vector<std::unique_ptr<View>> views, double spacing, const Rect& frame);
  ~StackBoxView() override;
  Gtk::Widget& widget() override { return box_; }
  std::optional<Rect> frame() const override { return frame_; }

 private:
  Gtk::Box box_;
  std::vector<std::unique_ptr<View>> views_;
  Rect frame_;
};

// A window's content: a fixed-size area whose subviews sit at their frames, with AppKit's
// origin at the bottom left.
class ContentView final : public Gtk::Widget {
 public:
  ContentView(int width, int height);
  ~ContentView() override;
  void addSubview(std::unique_ptr<View> view);

 protected:
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                     int& minimumBaseline, int& naturalBaseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  Gtk::Allocation allocationFor(WidgetView& view) const;

  int width_;
  int height_;
  std::vector<std::unique_ptr<View>> subviews_;
};

class AppWindow final : public Window {
 public:
  // The header bar carries the window's controls and, when the application has one, the menu.
  AppWindow(const Glib::RefPtr<Gtk::Application>& application, const Rect& contentRect,
            WindowStyle style, const Glib::RefPtr<Gio::MenuModel>& menu);
  void setTitle(const std::string& title) override;
  void addSubview(std::unique_ptr<View> view) override;
  void makeKeyAndOrderFront() override;
  Gtk::Window& gtkWindow() { return window_; }

 private:
  Gtk::HeaderBar headerBar_;
  Gtk::MenuButton menuButton_;
  ContentView content_;
  Gtk::Window window_;  // destroyed first, so it lets go of its parts before they go
};

}  // namespace quav::toolkit::gtk
