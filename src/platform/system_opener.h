// Hands URLs and files to the desktop: open a URL in the user's default
// application, show a file selected in the file manager.
// Linux backend: g_app_info_launch_default_for_uri, and the file manager's
// org.freedesktop.FileManager1.ShowItems on the session bus (its containing
// folder is opened instead when no file manager answers).
// Test double: RecordingSystemOpener (recording_system_opener.h).
// THREAD-SAFETY: main queue.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvik::platform {

class SystemOpener {
 public:
  virtual ~SystemOpener() = default;

  // Whether a default application took the URL. Callers decide what may be
  // opened; this opens whatever it is given.
  virtual bool openURL(const std::string& url) = 0;
  // Asks the file manager to show `file` selected; the answer comes later
  // and is not reported.
  virtual void revealFile(const std::filesystem::path& file) = 0;
  // Starts the first of these desktop applications (desktop entry ids, like
  // a settings panel's) that this desktop has; false when none started.
  virtual bool openDesktopApplication(const std::vector<std::string>& desktopIds) = 0;
};

std::unique_ptr<SystemOpener> makeGioSystemOpener();

}  // namespace orvik::platform
