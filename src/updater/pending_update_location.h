// Where the application leaves an update for orvik-installer: the staged
// archive and the job file live in one folder, worked out by the rule the
// installer uses too ($XDG_CACHE_HOME/com.orvik.desk/pending-update, or
// ~/.cache/… when the variable is unset or relative). The two programs
// share no code, so each side's test pins the same table of cases; there is
// no second place to look, in either program.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <filesystem>
#include <string>

namespace orvik {

inline constexpr const char* kPendingJobFileName = "orvik_pending_update.json";
inline constexpr const char* kPendingArchiveName = "orvik_pending.tar";
inline constexpr const char* kInstallerProgramName = "orvik-installer";
inline constexpr const char* kFallbackBundleIdentifier = "com.orvik.desk";

std::filesystem::path pendingUpdateFolder(const std::string& xdgCacheHome, const std::string& home);
// The same from this process's environment.
std::filesystem::path pendingUpdateFolder();

// The install folder an update replaces: the running program's folder with
// links, "." and ".." resolved, so the job never names the launcher's link
// or a path that moves under the installer.
std::filesystem::path realInstallPath(const std::filesystem::path& runningFolder);

}  // namespace orvik
