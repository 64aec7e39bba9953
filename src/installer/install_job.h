// The install job the application leaves for the installer, and the checks
// that decide whether its paths may be acted on. Nothing in the job file is
// trusted as it stands: the install folder must be an existing install
// folder of this application, and the archive must be the staged one.
//
// THREAD-SAFETY: pure functions; the validators read the file system.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvik::installer {

struct InstallJob {
  std::string dmgPath;       // the staged update archive
  std::string installPath;   // the install folder to replace
  std::string mainBundleID;  // the identifier of the application to relaunch
};

// One JSON object whose members are all strings, holding the three keys;
// anything else is no job. An escaped solidus is plain JSON.
std::optional<InstallJob> parseInstallJob(const std::string& text);

// What the installed copy's manifest.json says about it.
struct InstalledIdentity {
  std::string identifier;
  std::string version;
  std::string build;
  std::string distributionChannel;
};
std::optional<InstalledIdentity> readIdentity(const std::filesystem::path& manifestFile);

enum class InstallPathCheck {
  ok,
  notAbsolute,
  notNormalised,  // ".", "..", doubled or trailing separators
  notAFolder,     // missing, a file, or a symbolic link
  noManifest,
  wrongIdentifier,
};
// `expectedIdentifier` is the compiled-in one; the job's mainBundleID must
// match it as well (checked by the caller).
[[nodiscard]] InstallPathCheck checkInstallPath(const std::string& installPath, const std::string& expectedIdentifier);
const char* describe(InstallPathCheck check);

// The job may only name the archive staged in the pending-update folder.
[[nodiscard]] bool isStagedArchive(const std::string& dmgPath, const std::filesystem::path& pendingFolder);

}  // namespace orvik::installer
