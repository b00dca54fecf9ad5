#include "DefaultHandler.h"

#include <gio/gdesktopappinfo.h>
#include <unistd.h>

#include <memory>

namespace quav::toolkit::gtk {
namespace {

// GIO's own way starts the handler through a fork, twice (a grandchild, so that nobody has to
// collect it), and a fork copies the page tables of the whole process: with the window's GL
// renderer the launcher holds some 200 MB, and each copy cost it milliseconds between the
// server's readiness and the browser. GLib takes posix_spawn instead, which copies nothing, when
// the child is collected by the caller and the caller's descriptors are left to the child: so
// every descriptor of the launcher is marked close-on-exec first, and the browser still gets
// none but the standard three.
constexpr auto kSpawnFlags = static_cast<GSpawnFlags>(
    G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_LEAVE_DESCRIPTORS_OPEN);

void collectWhenEnded(GDesktopAppInfo*, GPid handler, gpointer) {
  g_child_watch_add(
      handler, [](GPid, gint, gpointer) {}, nullptr);
}

bool openTheDefaultWay(const std::string& url, GAppLaunchContext* context) {
  return g_app_info_launch_default_for_uri(url.c_str(), context, nullptr);
}

}  // namespace

bool openWithDefaultHandler(const std::string& url, GAppLaunchContext* context) {
  std::unique_ptr<char, decltype(&g_free)> scheme(g_uri_parse_scheme(url.c_str()), g_free);
  std::unique_ptr<GAppInfo, decltype(&g_object_unref)> handler(
      scheme ? g_app_info_get_default_for_uri_scheme(scheme.get()) : nullptr, g_object_unref);
  if (!handler || !G_IS_DESKTOP_APP_INFO(handler.get()) ||
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    return openTheDefaultWay(url, context);  // e.g. a kernel older than 5.11
  }
  GList uris{const_cast<char*>(url.c_str()), nullptr, nullptr};
  return g_desktop_app_info_launch_uris_as_manager_with_fds(
      G_DESKTOP_APP_INFO(handler.get()), &uris, context, kSpawnFlags, nullptr, nullptr,
      collectWhenEnded, nullptr, -1, -1, -1, nullptr);
}

}  // namespace quav::toolkit::gtk
