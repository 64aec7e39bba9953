// The program's identity and where it is installed: what a macOS bundle's
// Info.plist and resource folder give. The values are compiled in; tests may
// install their own with AppInfo::setCurrent.
// THREAD-SAFETY: current() from any thread; setCurrent at start-up or in a
// test's set-up only.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::platform {

struct AppInfo {
  std::string displayName;
  std::string bundleIdentifier;
  std::string shortVersion;  // "1.4.2"
  std::string build;         // "142"
  // The folder holding the orvikdesk and orvik-installer programs.
  std::filesystem::path installFolder;
  // The folder of sounds, images and icons ("resources/" in the install
  // folder, or the source tree's resources in a development build).
  std::filesystem::path resourcesFolder;

  // The compiled-in identity with folders derived from the running program.
  static AppInfo compiledIn();
  static const AppInfo& current();
  static void setCurrent(AppInfo info);
};

}  // namespace orvik::platform
