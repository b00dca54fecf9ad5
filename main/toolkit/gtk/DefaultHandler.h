// Handing an address to the desktop's default handler for its scheme (the web browser).
#pragma once

#include <gio/gio.h>

#include <string>

namespace quav::toolkit::gtk {

// As g_app_info_launch_default_for_uri, with the launch context's startup notification and
// focus, but without copying the launcher's memory to start the handler; true when started.
bool openWithDefaultHandler(const std::string& url, GAppLaunchContext* context);

}  // namespace quav::toolkit::gtk
