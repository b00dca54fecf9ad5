// tone_launcher on Linux: the launcher's delegate on the GTK application.
#include <memory>

#include "Application.h"
#include "Launcher.h"

int main(int argc, char** argv) {
  quav::toolkit::gtk::GtkToolkitApplication application(quav::toolkit::gtk::kApplicationId);
  // Declared after the application, so the window and the server process it made go first.
  const auto delegate = std::make_shared<quav::AppDelegate>(application);
  application.setDelegate(delegate.get());
  return application.run(argc, argv);
}
