#include "updater/manual_update_fallback.h"

#include "platform/dispatch/task_queue.h"
#include "platform/user_defaults.h"
#include "updater/update_alerts.h"
#include "updater/update_check_policy.h"

namespace orvik {

ManualUpdateFallback::ManualUpdateFallback(Dependencies dependencies) : d_(std::move(dependencies)) {}

ManualUpdateFallback::~ManualUpdateFallback() {
  if (quit_) quit_->cancel();
}

void ManualUpdateFallback::show(const std::optional<std::filesystem::path>& stagedArchive) {
  std::weak_ptr<ManualUpdateFallback*> weak = self_;
  d_.alerts.showQuestion(kManualUpdateTitle, kManualUpdateText, kManualUpdateOpen, kManualUpdateCancel,
                         [weak, stagedArchive](bool open) {
                           if (auto self = weak.lock()) (*self)->answered(open, stagedArchive);
                         });
}

void ManualUpdateFallback::answered(bool open, const std::optional<std::filesystem::path>& stagedArchive) {
  if (!open) return;
  const auto info = d_.updateInfo ? d_.updateInfo() : std::nullopt;
  std::error_code error;
  if (stagedArchive && std::filesystem::is_regular_file(*stagedArchive, error)) {
    // The next check shows the offer again even inside the Later window,
    // until the running build is the new one.
    if (info) d_.defaults.setString(kPendingManualUpdateBuildKey, info->buildVersion);
    if (d_.openArchive) d_.openArchive(*stagedArchive);
    if (quit_) quit_->cancel();
    quit_ = std::make_shared<platform::WorkItem>([quit = d_.quit] {
      if (quit) quit();
    });
    d_.queue.postAfter(kManualUpdateQuitDelaySeconds, quit_);
    return;
  }
  if (info && !info->downloadUrl.empty() && d_.openURL) d_.openURL(info->downloadUrl);
}

}  // namespace orvik
