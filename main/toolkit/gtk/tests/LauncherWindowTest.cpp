// The launcher's window, menu and alert as GTK shows them.
#include <gtest/gtest.h>

#include <fstream>

#include "LauncherHarness.h"

namespace quav::testing {
namespace {

constexpr const char* kKeepRunning = "exec sleep 60\n";

Gtk::Label& labelAt(const std::vector<Gtk::Widget*>& views, size_t index) {
  return dynamic_cast<Gtk::Label&>(*views.at(index));
}

Gtk::Button& buttonAt(const std::vector<Gtk::Widget*>& views, size_t index) {
  return dynamic_cast<Gtk::Button&>(*views.at(index));
}

graphene_rect_t boundsIn(Gtk::Widget& widget, Gtk::Widget& ancestor) {
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(widget.gobj(), ancestor.gobj(), &bounds)) {
    ADD_FAILURE() << "no bounds for " << G_OBJECT_TYPE_NAME(widget.gobj());
  }
  return bounds;
}

bool isLaidOut(Gtk::Window& window) {
  return window.get_mapped() && window.get_child() && window.get_child()->get_width() > 0;
}

// Allocated the height its text needs at its width: laid out since the text last changed.
bool hasItsHeight(Gtk::Widget& widget) {
  int minimum = 0, natural = 0, ignored = 0;
  widget.measure(Gtk::Orientation::VERTICAL, widget.get_width(), minimum, natural, ignored,
                 ignored);
  return widget.get_height() == natural;
}

class LauncherWindowTest : public ::testing::Test {
 protected:
  LauncherHarness launcher;
};

TEST_F(LauncherWindowTest, ShowsTheFiveViewsInOrderWithTheirTextsFontsAndStates) {
  launcher.installServer(kKeepRunning);
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return isLaidOut(launcher.window()); }));
    auto& window = launcher.window();
    EXPECT_EQ(window.get_title(), "QUAV Lab");
    EXPECT_FALSE(window.get_resizable());
    EXPECT_TRUE(window.get_deletable());
    EXPECT_TRUE(window.is_active() || window.get_visible());

    const auto views = launcher.stackViews();
    ASSERT_EQ(views.size(), 5u);
    EXPECT_EQ(labelAt(views, 0).get_text(), "Find the key. Keep your audio local.");
    EXPECT_FALSE(labelAt(views, 0).get_wrap());
    // Bold at twenty in the window's own units, as AppKit's points are; the intro is not bold.
    const auto fontOf = [&](size_t index) {
      return labelAt(views, index)
          .get_layout()
          ->get_iter()
          .get_run()
          .get_item()
          .get_analysis()
          .get_font()
          ->describe_with_absolute_size();
    };
    EXPECT_EQ(fontOf(0).get_weight(), Pango::Weight::BOLD);
    EXPECT_EQ(fontOf(0).get_size(), 20 * PANGO_SCALE);
    EXPECT_NE(fontOf(1).get_weight(), Pango::Weight::BOLD);
    EXPECT_EQ(labelAt(views, 1).get_text(),
              "Analyze beats without installing Python or opening Terminal or Codex. DAW "
              "connections are optional and start when you press Find in QUAV Lab.");
    EXPECT_TRUE(labelAt(views, 1).get_wrap());
    EXPECT_EQ(labelAt(views, 2).get_text(), "Starting QUAV Lab\u2026");
    EXPECT_TRUE(labelAt(views, 2).get_wrap());
    EXPECT_EQ(buttonAt(views, 3).get_label(), "Open QUAV Lab");
    EXPECT_FALSE(buttonAt(views, 3).get_sensitive());
    EXPECT_EQ(buttonAt(views, 4).get_label(), "Setup & optional DAW connections");
    EXPECT_TRUE(buttonAt(views, 4).get_sensitive());
  });
}

class LauncherLayoutTest : public LauncherWindowTest,
                           public ::testing::WithParamInterface<const char*> {};

// The stack's frame is (28, 25, 424, 220) in a 480 by 270 content, origin at the bottom left;
// the views fit it with each of the status texts a running launcher shows.
TEST_P(LauncherLayoutTest, LaysTheViewsOutInsideTheStackFrameOfAFixedContent) {
  launcher.installServer(kKeepRunning);
  launcher.run([&] {
    launcher.delegate().status->setStringValue(GetParam());
    ASSERT_TRUE(
        spinUntil([&] { return isLaidOut(launcher.window()) && hasItsHeight(launcher.status()); }));
    auto& content = *launcher.window().get_child();
    EXPECT_EQ(content.get_width(), 480);
    EXPECT_EQ(content.get_height(), 270);

    const auto views = launcher.stackViews();
    auto& stack = *views.front()->get_parent();
    const auto frame = boundsIn(stack, content);
    EXPECT_EQ(frame.origin.x, 28);
    EXPECT_EQ(frame.origin.y, 25);
    EXPECT_EQ(frame.size.width, 424);
    EXPECT_EQ(frame.size.height, 220);

    float previousBottom = 0;
    for (size_t index = 0; index < views.size(); ++index) {
      SCOPED_TRACE(index);
      const auto bounds = boundsIn(*views[index], stack);
      EXPECT_EQ(bounds.origin.x, 0);
      EXPECT_LE(bounds.origin.x + bounds.size.width, 424);
      EXPECT_LE(bounds.origin.y + bounds.size.height, 220) << "the views must fit the frame";
      if (index > 0) {
        EXPECT_EQ(bounds.origin.y - previousBottom, 18);
      }
      previousBottom = bounds.origin.y + bounds.size.height;
    }
    // Text wraps inside the frame; buttons keep their natural width on the leading edge.
    auto& intro = labelAt(views, 1);
    EXPECT_GT(intro.get_layout()->get_line_count(), 1);
    EXPECT_EQ(boundsIn(intro, stack).size.width, 424);
    for (size_t button : {3, 4}) EXPECT_LT(boundsIn(*views[button], stack).size.width, 424);
  });
}

std::string statusName(const ::testing::TestParamInfo<const char*>& info) {
  const char* names[] = {"Starting", "Ready", "Stopped"};
  return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(
    StatusTexts, LauncherLayoutTest,
    ::testing::Values("Starting QUAV Lab\u2026",
                      "Ready. Audio stays on this Mac. Quit this app when you\u2019re finished.",
                      "QUAV Lab stopped. Quit and reopen this app to restart."),
    statusName);

TEST_F(LauncherWindowTest, LongStatusTextWrapsWithoutGrowingTheWindow) {
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return isLaidOut(launcher.window()); }));
    auto& window = launcher.window();
    const int width = window.get_width();
    const int height = window.get_height();
    launcher.delegate().status->setStringValue(
        "Could not start QUAV Lab: Failed to execute child process \u201c/a/rather/long/path/"
        "to/share/quav-lab/backend/tonvex-server\u201d (No such file or directory)");
    ASSERT_TRUE(spinUntil([&] { return launcher.status().get_layout()->get_line_count() > 1; }));
    EXPECT_FALSE(spinUntil([&] { return window.get_width() != width; }, 200ms));
    EXPECT_EQ(window.get_height(), height);
    EXPECT_EQ(window.get_child()->get_width(), 480);
    EXPECT_EQ(window.get_child()->get_height(), 270);
  });
}

TEST_F(LauncherWindowTest, OffersQuitWithControlQInTheWindowsMenu) {
  launcher.installServer(kKeepRunning);
  launcher.run([&] {
    auto* headerBar = launcher.window().get_titlebar();
    ASSERT_NE(headerBar, nullptr);
    Gtk::MenuButton* menuButton = nullptr;
    std::vector<Gtk::Widget*> pending{headerBar};
    while (!pending.empty() && !menuButton) {
      auto* widget = pending.back();
      pending.pop_back();
      menuButton = dynamic_cast<Gtk::MenuButton*>(widget);
      for (auto* child = widget->get_first_child(); child; child = child->get_next_sibling()) {
        pending.push_back(child);
      }
    }
    ASSERT_NE(menuButton, nullptr);
    auto menu = menuButton->get_menu_model();
    ASSERT_EQ(menu->get_n_items(), 1);
    auto section = menu->get_item_link(0, Gio::MenuModel::Link::SECTION);
    ASSERT_TRUE(section);
    ASSERT_EQ(section->get_n_items(), 1);
    const auto text = [&](Gio::MenuModel::Attribute attribute) {
      return Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(
                 section->get_item_attribute(0, attribute, Glib::VARIANT_TYPE_STRING))
          .get();
    };
    EXPECT_EQ(text(Gio::MenuModel::Attribute::LABEL), "Quit QUAV Lab");
    EXPECT_EQ(text(Gio::MenuModel::Attribute::ACTION), "app.quit");
    EXPECT_EQ(launcher.application().gtkApplication()->get_accels_for_action("app.quit"),
              std::vector<Glib::ustring>{"<Control>q"});
  });
  EXPECT_EQ(launcher.terminations(), 1);
}

TEST_F(LauncherWindowTest, RejectedKeyShowsOneModalAlertUntilDismissed) {
  launcher.installServer(kKeepRunning);
  const auto key = std::filesystem::path(launcher.directory().path()) / "broken.quavkey";
  std::ofstream(key) << "{\"format\": \"quav-key\"}";
  launcher.run([&] {
    ASSERT_TRUE(spinUntil([&] { return isLaidOut(launcher.window()); }));
    std::string message, detail;
    bool acknowledged = false;
    launcher.application().postToMainQueue([&] {
      ASSERT_TRUE(spinUntil([&] { return launcher.alert() && launcher.alert()->get_mapped(); }));
      auto& alert = *launcher.alert();
      message = alert.property_text().get_value();
      detail = alert.property_secondary_text().get_value();
      acknowledged = alert.get_widget_for_response(Gtk::ResponseType::OK) != nullptr;
      alert.response(Gtk::ResponseType::OK);
    });
    launcher.application().gtkApplication()->open(Gio::File::create_for_path(key.string()));
    // Only here once the alert is gone.
    EXPECT_EQ(message, "This key file could not be opened.");
    EXPECT_EQ(detail, "Export a new .quavkey file from QUAV Lab. Nothing was sent to Auto-Tune.");
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(launcher.alert(), nullptr);
    EXPECT_TRUE(launcher.opened().empty());
  });
}

}  // namespace
}  // namespace quav::testing
