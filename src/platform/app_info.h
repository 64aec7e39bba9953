// The program's identity and where it is installed: what a macOS bundle's
// Info.plist and resource folder give. The identity is compiled in; an
// installed copy takes its version and build from its install manifest (the
// compiled-in ones otherwise); the folders come from where the running
// program actually lies. Tests may
// install their own values with AppInfo::setCurrent.
//
// An installed copy is the install folder <prefix>/lib/orvikdesk/ (the
// programs, resources/ and manifest.json), with the launcher
// <prefix>/bin/orvikdesk, the desktop entry and the icons under <prefix>/share.
// A program run from the build tree takes the source tree's resources and
// the build tree's rendered icons. A program found anywhere else (a bare copy
// in a shared folder such as /usr/bin) has no install folder at all: no
// shared system folder ever counts as the program's own.
//
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
  // The folder holding the orvikdesk and orvik-installer programs, or the
  // program's own folder in the build tree; empty when it is neither.
  std::filesystem::path installFolder;
  // The folder of sounds and images ("resources/" in the install folder, or
  // the source tree's resources in a development build).
  std::filesystem::path resourcesFolder;
  // Whether the program runs from an install folder (manifest.json beside it).
  bool isInstalled = false;
  // Installed copies only: the launcher the desktop entry starts, and the
  // desktop entry itself (named after the application id, as notifications
  // and window grouping name it).
  std::filesystem::path launcher;
  std::filesystem::path desktopEntry;
  // The icon folder holding hicolor/ with the application icon.
  std::filesystem::path iconsFolder;

  // The compiled-in identity with folders derived from the running program.
  static AppInfo compiledIn();
  // The folders for a program lying in `programFolder` (symbolic links
  // resolved), given the build tree and the source tree's resources.
  static AppInfo forProgramFolder(const std::filesystem::path& programFolder, const std::filesystem::path& buildTree,
                                  const std::filesystem::path& sourceResources);
  static const AppInfo& current();
  static void setCurrent(AppInfo info);
};

// The install manifest in the install folder: identifier, version, build and
// distribution channel, for the updater and installer.
inline constexpr const char* kInstallManifestName = "manifest.json";

}  // namespace orvik::platform
