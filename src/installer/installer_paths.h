// Fixed names and places of the installer program, and the shell quoting
// rule. The job folder rule is the one the application uses when it stages
// an update (src/updater/pending_update_location.*); both programs work it
// out from the same environment variables, and a test on each side pins the
// same table of cases, because the two programs share no code.
//
// THREAD-SAFETY: pure functions of their arguments.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::installer {

inline constexpr const char* kAppIdentifier = "com.orvik.desk";
// The maker's team: a signed update manifest must name it.
inline constexpr const char* kTeamIdentifier = "OR5VK2D8QK";
inline constexpr const char* kJobFileName = "orvik_pending_update.json";
inline constexpr const char* kStagedArchiveName = "orvik_pending.tar";
inline constexpr const char* kLogFileName = "OrvikUpdateInstaller.log";
// The application's own program, inside the install folder.
inline constexpr const char* kAppProgramName = "orvikdesk";

struct EnvironmentFolders {
  std::string xdgCacheHome;  // empty when unset
  std::string xdgStateHome;  // empty when unset
  std::string home;
};
EnvironmentFolders environmentFolders();

// Where the application stages the archive and writes the job:
// $XDG_CACHE_HOME/com.orvik.desk/pending-update, or ~/.cache/… when the
// variable is unset or not absolute.
std::filesystem::path pendingUpdateFolder(const EnvironmentFolders& env);
// $XDG_STATE_HOME/com.orvik.desk/OrvikUpdateInstaller.log, or ~/.local/state/….
std::filesystem::path installerLogPath(const EnvironmentFolders& env);

// One word for /bin/sh: single quotes, an inner single quote as '\''.
std::string shellQuote(const std::string& text);

}  // namespace orvik::installer
