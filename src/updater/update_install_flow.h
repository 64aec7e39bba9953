// Takes a verified archive from UpdateDownloader to orvik-installer and
// turns the installer's answer into the downloader's state: staging on a
// worker, then the hand-off's wait on the main queue. A success clears the
// offer and asks for the relaunch (through `installed`); "cancelled" ends
// quietly; any other failure becomes the downloader's error text; a manual
// fallback goes to `manualFallback` with the archive when it is still ours.
//
//   UpdateInstallFlow flow({mainQueue(), worker, downloader, signals, launcher,
//                           installFolder, runningFolder, pendingUpdateFolder(), installed, fallback});
//
// Owner: the composition root, after the downloader. THREAD-SAFETY: main
// queue; only the staging copy runs on `worker`.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "updater/installer_handoff.h"

namespace orvik {

class UpdateDownloader;

class UpdateInstallFlow : public InstallerHandoffDelegate {
 public:
  struct Dependencies {
    platform::TaskQueue& queue;   // main
    platform::TaskQueue& worker;  // the staging copy
    UpdateDownloader& downloader;
    InstallerSignalSource& signals;
    InstallerLauncher& launcher;
    std::filesystem::path installFolder;  // the install folder this copy came from
    std::filesystem::path runningFolder;  // the running program's folder
    std::filesystem::path pendingFolder;
    std::string bundleIdentifier;
    std::function<void()> installed;
    std::function<void(const std::optional<std::filesystem::path>&)> manualFallback;
  };

  explicit UpdateInstallFlow(Dependencies dependencies);
  ~UpdateInstallFlow() override;

  void handOff(const std::filesystem::path& archive);
  const InstallerHandoff& handoff() const { return handoff_; }

  void installSucceeded() override;
  void installCancelled() override;
  void installFailed(const UpdateError& error) override;
  void showManualFallback(const std::optional<std::filesystem::path>& stagedArchive) override;

 private:
  Dependencies d_;
  InstallerHandoff handoff_;
  std::shared_ptr<UpdateInstallFlow*> self_ = std::make_shared<UpdateInstallFlow*>(this);
};

}  // namespace orvik
