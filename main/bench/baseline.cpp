// The least a GTK 4 program can do for the launcher's two measured paths, to compare it with:
// "window" shows a bare 480 by 270 gtkmm window; "open" reads one readiness line from standard
// input and opens its address in the default browser through the display's launch context.
// Built and run by launcher_bench.py.
#include <gtkmm.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  auto application =
      Gtk::Application::create("app.quav.LabBaseline", Gio::Application::Flags::NON_UNIQUE);
  Gtk::Window window;
  application->signal_activate().connect([&] {
    if (mode == "window") {
      window.set_default_size(480, 270);
      application->add_window(window);
      window.present();
      return;
    }
    application->hold();
    Glib::signal_io().connect(
        [&](Glib::IOCondition) {
          std::string line;
          std::getline(std::cin, line);
          if (const auto start = line.find("http://"); start != std::string::npos) {
            try {
              Gio::AppInfo::launch_default_for_uri(
                  line.substr(start), Gdk::Display::get_default()->get_app_launch_context());
            } catch (const Glib::Error&) {
            }
          }
          application->release();
          return false;
        },
        0, Glib::IOCondition::IO_IN | Glib::IOCondition::IO_HUP);
  });
  return application->run(1, argv);  // the mode is no file to open
}
