#include "installer/install_sequence.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include <glib.h>

#include "installer/install_job.h"
#include "installer/installer_paths.h"
#include "installer/safe_unpack.h"
#include "installer/update_package.h"

namespace orvik::installer {
namespace {

constexpr std::uintmax_t kMaxJobBytes = 64 * 1024;

std::optional<std::string> readJobFile(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::regular) return std::nullopt;
  if (std::filesystem::file_size(file, error) > kMaxJobBytes || error) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Removes the private folder whatever happens to the job.
struct PrivateFolder {
  std::filesystem::path path;
  ~PrivateFolder() {
    std::error_code error;
    if (!path.empty()) std::filesystem::remove_all(path, error);
  }
};

}  // namespace

std::string elevatedReplaceCommand(const std::filesystem::path& newApp, const std::filesystem::path& installPath) {
  auto staging = shellQuote(stagingPathOf(installPath));
  auto aside = shellQuote(asidePathOf(installPath));
  auto install = shellQuote(installPath);
  return "rm -rf " + staging + " " + aside + " && cp -R " + shellQuote(newApp) + " " + staging +
         " && chmod -R u+rwX,go+rX,go-w " + staging + " && mv -T " + install + " " + aside + " && if mv -T " +
         staging + " " + install + "; then rm -rf " + aside + "; else mv -T " + aside + " " + install +
         "; rm -rf " + staging + "; exit 1; fi";
}

ReplaceVerdict classifyElevatedResult(const CommandResult& result) {
  if (!result.started) return {false, "Could not ask for administrator rights"};
  switch (result.exitStatus) {
    case 0: return {true, ""};
    case 126: return {false, "cancelled"};
    case 127: return {false, "Not authorised to replace the application"};
    default:
      if (!result.err.empty()) return {false, result.err};
      return {false, "Installation failed (exit status " + std::to_string(result.exitStatus) + ")"};
  }
}

std::string replaceFolder(const std::filesystem::path& staging, const std::filesystem::path& installPath) {
  std::error_code error;
  auto aside = asidePathOf(installPath);
  std::filesystem::remove_all(aside, error);
  std::filesystem::rename(installPath, aside, error);
  if (error) return "Could not move the installed application aside: " + error.message();
  std::filesystem::rename(staging, installPath, error);
  if (error) {
    std::string text = "Could not move the new version into place: " + error.message();
    std::error_code restore;
    std::filesystem::rename(aside, installPath, restore);
    return text;
  }
  std::filesystem::remove_all(aside, error);
  return "";
}

InstallOutcome runInstallJob(const InstallContext& c) {
  auto fail = [&](const std::string& error) {
    c.notifier.sendResult(false, error);
    return InstallOutcome::failed;
  };
  auto jobFile = c.pendingFolder / kJobFileName;
  c.log.write("📋 [Installer] Reading job file...");
  auto text = readJobFile(jobFile);
  auto job = text ? parseInstallJob(*text) : std::nullopt;
  if (!job) {
    c.log.write("❌ [Installer] Job file missing or invalid at: " + jobFile.string());
    return fail("Install job not found");
  }
  std::error_code error;
  std::filesystem::remove(jobFile, error);
  c.log.write("🚀 [Installer] Job received — installing to: " + job->installPath);

  auto pathCheck = checkInstallPath(job->installPath, kAppIdentifier);
  if (pathCheck != InstallPathCheck::ok || job->mainBundleID != kAppIdentifier) {
    c.log.write("🛑 [Installer] REFUSED — install path " + job->installPath + ": " +
                (pathCheck != InstallPathCheck::ok ? describe(pathCheck) : "unexpected application identifier"));
    return fail("Invalid install location");
  }
  std::filesystem::path installPath(job->installPath);
  auto installed = readIdentity(installPath / "manifest.json");
  if (installed && installed->distributionChannel == "appstore") {
    c.log.write("🛑 [Installer] REFUSED — " + job->installPath +
                " is the App Store copy; it must update from the App Store");
    return fail("This copy of Orvik is from the App Store — update it from the App Store");
  }
  if (!isStagedArchive(job->dmgPath, c.pendingFolder)) {
    c.log.write("❌ [Installer] Not the staged update archive: " + job->dmgPath);
    return fail("Could not open update file");
  }

  c.log.write("📀 [Installer] Unpacking update archive...");
  auto pattern = (c.temporaryFolder / "orvik-installer-XXXXXX").string();
  PrivateFolder root;
  if (char* made = g_mkdtemp_full(pattern.data(), 0700)) root.path = made;
  if (root.path.empty()) {
    c.log.write("❌ [Installer] Could not make a private folder in " + c.temporaryFolder.string());
    return fail("Could not open update file");
  }
  auto unpacked = unpackArchive(job->dmgPath, root.path);
  if (unpacked.status != UnpackStatus::ok) {
    c.log.write("❌ [Installer] Unpack refused: " + std::string(describe(unpacked.status)) +
                (unpacked.entry.empty() ? "" : " (" + unpacked.entry + ")"));
    return fail("Could not open update file");
  }
  c.log.write("✅ [Installer] Unpacked into: " + root.path.string());

  auto app = root.path / kPackageAppFolderName;
  if (std::filesystem::symlink_status(app / kAppProgramName, error).type() != std::filesystem::file_type::regular) {
    c.log.write("❌ [Installer] No application found in " + root.path.string());
    return fail("App not found in update package");
  }
  c.log.write(std::string("📱 [Installer] Found: ") + kPackageAppFolderName);

  c.log.write("🔐 [Installer] Verifying code signature...");
  std::string detail;
  auto check = verifyUpdatePackage(root.path, c.publicKey, &detail);
  if (check != PackageCheck::ok) {
    c.log.write(std::string("🚨 [Installer] BLOCKED — signature/requirement check failed for ") +
                kPackageAppFolderName + ": " + describe(check) + (detail.empty() ? "" : " (" + detail + ")"));
    c.notifier.sendResult(false, std::string("Invalid signature"));
    return InstallOutcome::blocked;
  }
  c.log.write(std::string("✅ [Installer] Signature OK — id ") + kAppIdentifier + ", Team " + kTeamIdentifier);

  // The channel is read from the signed manifest only now that it is trusted.
  auto incoming = readIdentity(app / "manifest.json");
  if (incoming && incoming->distributionChannel == "appstore") {
    c.log.write("🛑 [Installer] REFUSED — update package is the App Store build, not a bucket build");
    return fail("Wrong update package");
  }

  auto destination = installPath.parent_path();
  bool needsAdmin = c.folderWritable ? !c.folderWritable(destination) : access(destination.c_str(), W_OK) != 0;
  c.log.write(std::string("📋 [Installer] Installing... (admin needed: ") + (needsAdmin ? "true" : "false") + ")");
  auto oldProcesses = c.processes.running(installPath / kAppProgramName);
  c.notifier.sendProgress(needsAdmin);

  ReplaceVerdict verdict;
  if (needsAdmin) {
    c.log.write("🔑 [Installer] Asking for administrator rights (pkexec)...");
    auto result = c.elevator.runAsAdministrator(elevatedReplaceCommand(app, installPath));
    c.log.write("🔑 [Installer] Admin prompt returned, exit status " + std::to_string(result.exitStatus));
    verdict = classifyElevatedResult(result);
  } else {
    auto staging = stagingPathOf(installPath);
    std::filesystem::remove_all(staging, error);
    std::filesystem::copy(app, staging, std::filesystem::copy_options::recursive |
                                            std::filesystem::copy_options::copy_symlinks, error);
    if (error) {
      verdict.error = "Could not copy the new version: " + error.message();
      std::error_code ignored;
      std::filesystem::remove_all(staging, ignored);
    } else {
      verdict.error = replaceFolder(staging, installPath);
      verdict.success = verdict.error.empty();
    }
  }

  std::filesystem::remove(job->dmgPath, error);
  c.log.write("🗑️ [Installer] Staged archive deleted: " + job->dmgPath);
  if (!verdict.success) {
    if (verdict.error == "cancelled") {
      c.log.write("ℹ️ [Installer] User cancelled admin prompt");
    } else {
      c.log.write("❌ [Installer] Copy failed: " + verdict.error);
    }
    return fail(verdict.error);
  }
  c.log.write("✅ [Installer] Install complete!");
  c.notifier.sendResult(true, std::nullopt);

  c.processes.waitForExit(oldProcesses);
  if (!c.processes.launch(installPath / kAppProgramName)) {
    c.log.write("❌ [Installer] Could not start " + (installPath / kAppProgramName).string());
  }
  return InstallOutcome::installed;
}

}  // namespace orvik::installer
