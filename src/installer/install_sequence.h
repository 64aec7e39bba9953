// One install job, start to end: read and delete the job, check its paths,
// unpack the staged archive into a private folder, check the package's
// signature, replace the install folder (through the elevator when its
// parent is not writable), clean up, report, wait for the old application to
// quit and start the new one. Every outcome sends exactly one result; a
// progress notice goes out once, after the signature check and before any
// installed file changes.
//
// THREAD-SAFETY: runs on the caller's thread and blocks on files and child
// processes.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "installer/installer_services.h"

namespace orvik::installer {

struct InstallContext {
  InstallerLog& log;
  InstallerNotifier& notifier;
  Elevator& elevator;
  AppProcesses& processes;
  std::string publicKey;                 // raw Ed25519 key
  std::filesystem::path pendingFolder;   // where the job and the archive are
  std::filesystem::path temporaryFolder; // the private unpack folder goes here
  // Whether this user may change a folder; the real check when empty.
  std::function<bool(const std::filesystem::path&)> folderWritable;
};

enum class InstallOutcome { installed, failed, blocked };
InstallOutcome runInstallJob(const InstallContext& context);

// The command text of an elevated replace: staging copy beside the install
// folder, old folder renamed aside, new folder moved in, old one removed
// only after that; on a failed move the old folder is put back.
std::string elevatedReplaceCommand(const std::filesystem::path& newApp, const std::filesystem::path& installPath);

// The result of a replace command as the application is told it.
struct ReplaceVerdict {
  bool success = false;
  std::string error;  // "cancelled" for a dismissed prompt
};
ReplaceVerdict classifyElevatedResult(const CommandResult& result);

// Renames `installPath` aside, moves `staging` in, deletes the old folder
// only after that worked; restores it on failure. Empty on success.
std::string replaceFolder(const std::filesystem::path& staging, const std::filesystem::path& installPath);

inline std::filesystem::path stagingPathOf(const std::filesystem::path& installPath) {
  return installPath.string() + ".orvik-update-staging";
}
inline std::filesystem::path asidePathOf(const std::filesystem::path& installPath) {
  return installPath.string() + ".orvik-update-old";
}

}  // namespace orvik::installer
