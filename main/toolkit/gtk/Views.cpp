#include "Views.h"

#include <algorithm>
#include <cmath>

namespace quav::toolkit::gtk {
namespace {

// A wrapping label asks for at most this many characters of width; it fills, and wraps at, the
// width its stack gives it, and the window's width is the content view's alone.
constexpr int kWrappingLabelMaxWidthChars = 80;

int points(double value) {
  return static_cast<int>(std::lround(value));
}

}  // namespace

Gtk::Widget* widgetOf(View& view) {
  auto* widgetView = dynamic_cast<WidgetView*>(&view);
  return widgetView ? &widgetView->widget() : nullptr;
}

LabelView::LabelView(const std::string& text, bool wrapping) : label_(text) {
  label_.set_xalign(0);
  label_.set_halign(Gtk::Align::START);
  if (wrapping) {
    label_.set_wrap(true);
    label_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    label_.set_max_width_chars(kWrappingLabelMaxWidthChars);
  }
}

// A wrapping label's natural width is the narrowest that keeps its number of lines; taking the
// stack's whole width instead makes it wrap where the stack ends, as in AppKit, with the text
// still on the leading edge.
void LabelView::alignLeading() {
  label_.set_halign(label_.get_wrap() ? Gtk::Align::FILL : Gtk::Align::START);
}

void LabelView::setStringValue(const std::string& text) {
  label_.set_text(text);
}

// Sizes are in the same units as the window's (logical pixels), as AppKit's points are.
void LabelView::setFont(const Font& font) {
  Pango::AttrList attributes;
  auto size = Pango::Attribute::create_attr_size_absolute(points(font.size * PANGO_SCALE));
  attributes.insert(size);
  if (font.bold) {
    auto weight = Pango::Attribute::create_attr_weight(Pango::Weight::BOLD);
    attributes.insert(weight);
  }
  label_.set_attributes(attributes);
}

ButtonView::ButtonView(const std::string& title, std::function<void()> action) : button_(title) {
  button_.set_halign(Gtk::Align::START);
  button_.signal_clicked().connect(std::move(action));
}

void ButtonView::setEnabled(bool enabled) {
  button_.set_sensitive(enabled);
}

StackBoxView::StackBoxView(std::vector<std::unique_ptr<View>> views, double spacing,
                           const Rect& frame)
    : box_(Gtk::Orientation::VERTICAL, points(spacing)), views_(std::move(views)), frame_(frame) {
  box_.add_css_class("quav-stack");
  for (auto& view : views_) {
    auto* widgetView = dynamic_cast<WidgetView*>(view.get());
    if (!widgetView) continue;
    widgetView->alignLeading();
    box_.append(widgetView->widget());
  }
}

StackBoxView::~StackBoxView() {
  for (auto& view : views_) {
    if (auto* widget = widgetOf(*view)) box_.remove(*widget);
  }
}

ContentView::ContentView(int width, int height) : width_(width), height_(height) {
  // Subviews that need more room than their frames are cut at the window's edge, as in AppKit.
  set_overflow(Gtk::Overflow::HIDDEN);
}

ContentView::~ContentView() {
  for (auto& view : subviews_) {
    if (auto* widget = widgetOf(*view)) widget->unparent();
  }
}

void ContentView::addSubview(std::unique_ptr<View> view) {
  auto* widget = widgetOf(*view);
  if (!widget) return;
  widget->set_parent(*this);
  subviews_.push_back(std::move(view));
  queue_resize();
}

Gtk::SizeRequestMode ContentView::get_request_mode_vfunc() const {
  return Gtk::SizeRequestMode::CONSTANT_SIZE;
}

void ContentView::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                int& minimumBaseline, int& naturalBaseline) const {
  minimum = natural = orientation == Gtk::Orientation::HORIZONTAL ? width_ : height_;
  minimumBaseline = naturalBaseline = -1;
}

void ContentView::size_allocate_vfunc(int, int, int) {
  for (auto& view : subviews_) {
    auto& widgetView = dynamic_cast<WidgetView&>(*view);
    widgetView.widget().size_allocate(allocationFor(widgetView), -1);
  }
}

// GTK allocates no widget less than its minimum size, so a frame too small for its view
// grows downwards and to the right, where the content view cuts it.
Gtk::Allocation ContentView::allocationFor(WidgetView& view) const {
  auto& widget = view.widget();
  int minimumWidth = 0, naturalWidth = 0, minimumHeight = 0, naturalHeight = 0, ignored = 0;
  widget.measure(Gtk::Orientation::HORIZONTAL, -1, minimumWidth, naturalWidth, ignored, ignored);
  const auto frame = view.frame();
  const int width = std::max(minimumWidth, frame ? points(frame->width) : naturalWidth);
  widget.measure(Gtk::Orientation::VERTICAL, width, minimumHeight, naturalHeight, ignored, ignored);
  if (!frame) return Gtk::Allocation(0, 0, width, naturalHeight);
  const int height = std::max(minimumHeight, points(frame->height));
  const int top = height_ - points(frame->y + frame->height);
  return Gtk::Allocation(points(frame->x), top, width, height);
}

AppWindow::AppWindow(const Glib::RefPtr<Gtk::Application>& application, const Rect& contentRect,
                     WindowStyle style, const Glib::RefPtr<Gio::MenuModel>& menu)
    : content_(points(contentRect.width), points(contentRect.height)) {
  window_.set_resizable(false);
  window_.set_deletable(style.closable);
  if (style.titled) {
    std::string controls = ":";
    if (style.miniaturizable) controls += "minimize,";
    if (style.closable) controls += "close";
    headerBar_.set_decoration_layout(controls);
    menuButton_.set_icon_name("open-menu-symbolic");
    menuButton_.set_menu_model(menu);
    menuButton_.set_primary(true);
    headerBar_.pack_end(menuButton_);
    window_.set_titlebar(headerBar_);
  } else {
    window_.set_decorated(false);
  }
  window_.set_child(content_);
  application->add_window(window_);
}

void AppWindow::setTitle(const std::string& title) {
  window_.set_title(title);
}

void AppWindow::addSubview(std::unique_ptr<View> view) {
  content_.addSubview(std::move(view));
}

void AppWindow::makeKeyAndOrderFront() {
  window_.present();
}

}  // namespace quav::toolkit::gtk
