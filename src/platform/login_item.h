// The program's own login item: whether it starts when the user logs in.
// Linux backend: an XDG autostart entry, <config home>/autostart/<app id>
// .desktop: a copy of the program's installed desktop entry (name, icon,
// window class) whose Exec is the given program. "Enabled" means the file
// exists and is switched on; an entry the user switched off (Hidden=true or
// X-GNOME-Autostart-enabled=false, as desktops record it) reads as "requires
// approval", as the system's own switched-off login items do; no file is
// "not registered". Registering writes the entry afresh (switched on);
// unregistering removes it.
// Test double: FakeLoginItem (fake_login_item.h).
// THREAD-SAFETY: main queue.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace orvik::platform {

// Numbered as the system's login-item statuses are; other values may come
// from other backends and are logged by number.
enum class LoginItemStatus : int { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

struct [[nodiscard]] LoginItemResult {
  bool succeeded = false;
  std::string errorDescription;  // when it failed
};

class LoginItem {
 public:
  virtual ~LoginItem() = default;
  virtual LoginItemStatus status() = 0;
  virtual LoginItemResult registerItem() = 0;
  virtual LoginItemResult unregisterItem() = 0;
};

// `desktopEntry` is the installed desktop entry the autostart entry copies;
// when it is missing or unreadable a minimal entry is written instead.
std::unique_ptr<LoginItem> makeXdgAutostartLoginItem(std::filesystem::path configHome, std::string appId,
                                                     std::string displayName, std::filesystem::path program,
                                                     std::filesystem::path desktopEntry = {});

// The running program's path, from /proc/self/exe.
std::filesystem::path runningProgramPath();

}  // namespace orvik::platform
