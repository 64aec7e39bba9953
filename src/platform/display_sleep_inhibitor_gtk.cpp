#include "platform/display_sleep_inhibitor.h"

#include <gtk/gtk.h>

namespace orvik::platform {
namespace {

GtkApplication* defaultApplication() {
  GApplication* application = g_application_get_default();
  return application && GTK_IS_APPLICATION(application) ? GTK_APPLICATION(application) : nullptr;
}

class GtkDisplaySleepInhibitor final : public DisplaySleepInhibitor {
 public:
  explicit GtkDisplaySleepInhibitor(std::function<GtkWindow*()> window) : window_(std::move(window)) {}

  unsigned inhibit(const std::string& reason) override {
    return inhibitFor(static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_IDLE |
                                                              GTK_APPLICATION_INHIBIT_SUSPEND),
                      reason);
  }

  unsigned inhibitSuspend(const std::string& reason) override {
    return inhibitFor(GTK_APPLICATION_INHIBIT_SUSPEND, reason);
  }

  void uninhibit(unsigned cookie) override {
    GtkApplication* application = defaultApplication();
    if (cookie != 0 && application) gtk_application_uninhibit(application, cookie);
  }

 private:
  unsigned inhibitFor(GtkApplicationInhibitFlags flags, const std::string& reason) {
    GtkApplication* application = defaultApplication();
    if (!application) return 0;
    return gtk_application_inhibit(application, window_ ? window_() : nullptr, flags, reason.c_str());
  }

  std::function<GtkWindow*()> window_;
};

}  // namespace

std::unique_ptr<DisplaySleepInhibitor> makeGtkDisplaySleepInhibitor(std::function<GtkWindow*()> window) {
  return std::make_unique<GtkDisplaySleepInhibitor>(std::move(window));
}

}  // namespace orvik::platform
