#include "updater/update_install_flow.h"

#include "platform/dispatch/task_queue.h"
#include "updater/pending_update_location.h"
#include "updater/update_downloader.h"

namespace orvik {

UpdateInstallFlow::UpdateInstallFlow(Dependencies dependencies)
    : d_(std::move(dependencies)), handoff_(d_.queue, d_.signals, d_.launcher, *this) {
  d_.downloader.setHandOff([this](const std::filesystem::path& archive) { handOff(archive); });
}

UpdateInstallFlow::~UpdateInstallFlow() {
  d_.downloader.setHandOff(nullptr);
}

void UpdateInstallFlow::handOff(const std::filesystem::path& archive) {
  auto installPath = realInstallPath(d_.installFolder);
  std::weak_ptr<UpdateInstallFlow*> weak = self_;
  d_.worker.post([weak, archive, installPath, pending = d_.pendingFolder, id = d_.bundleIdentifier,
                  queue = &d_.queue] {
    auto staged = stageForInstaller(archive, pending, installPath, id);
    queue->post([weak, staged = std::move(staged), installPath] {
      auto self = weak.lock();
      if (!self) return;
      UpdateInstallFlow& flow = **self;
      if (auto* error = std::get_if<UpdateError>(&staged)) {
        flow.d_.downloader.reportFailure(*error);
        return;
      }
      flow.handoff_.begin(std::get<StagedUpdate>(staged),
                          {installPath / kInstallerProgramName, flow.d_.runningFolder / kInstallerProgramName});
    });
  });
}

void UpdateInstallFlow::installSucceeded() {
  d_.downloader.finishInstalling();
  if (d_.installed) d_.installed();
}

void UpdateInstallFlow::installCancelled() {
  d_.downloader.finishInstalling();
}

void UpdateInstallFlow::installFailed(const UpdateError& error) {
  d_.downloader.reportFailure(error);
}

void UpdateInstallFlow::showManualFallback(const std::optional<std::filesystem::path>& stagedArchive) {
  d_.downloader.finishInstalling();
  if (d_.manualFallback) d_.manualFallback(stagedArchive);
}

}  // namespace orvik
