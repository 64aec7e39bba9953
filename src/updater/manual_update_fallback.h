// The manual update offered when orvik-installer could not do the job: a
// question "Manual Update Required" with "Open" and "Cancel".
//
//   Open, the staged archive still ours   the offered build is remembered
//                                          (the next check finds it pending),
//                                          the archive opens in its default
//                                          application, and 1.0 s later the
//                                          program quits so the user can
//                                          unpack it over the install folder
//   Open, no archive                       the feed's download page opens;
//                                          the program keeps running
//   Cancel                                 nothing
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "updater/app_update_info.h"

namespace orvik {

class UpdateAlerts;
namespace platform {
class TaskQueue;
class UserDefaults;
class WorkItem;
}  // namespace platform

inline constexpr const char* kManualUpdateTitle = "Manual Update Required";
inline constexpr const char* kManualUpdateText =
    "Click Open — Orvik will close and a window will open.\n"
    "Unpack the update over Orvik's install folder, then open Orvik again.";
inline constexpr const char* kManualUpdateOpen = "Open";
inline constexpr const char* kManualUpdateCancel = "Cancel";
inline constexpr double kManualUpdateQuitDelaySeconds = 1.0;

class ManualUpdateFallback {
 public:
  struct Dependencies {
    platform::TaskQueue& queue;  // main
    UpdateAlerts& alerts;
    platform::UserDefaults& defaults;
    // The update on offer, if any.
    std::function<std::optional<AppUpdateInfo>()> updateInfo;
    // Opens the archive in its default application.
    std::function<void(const std::filesystem::path& archive)> openArchive;
    std::function<void(const std::string& url)> openURL;
    std::function<void()> quit;
  };

  explicit ManualUpdateFallback(Dependencies dependencies);
  ~ManualUpdateFallback();

  // `stagedArchive` empty: the archive is not (or no longer) ours to offer.
  void show(const std::optional<std::filesystem::path>& stagedArchive);

 private:
  void answered(bool open, const std::optional<std::filesystem::path>& stagedArchive);

  Dependencies d_;
  std::shared_ptr<platform::WorkItem> quit_;
  std::shared_ptr<ManualUpdateFallback*> self_ = std::make_shared<ManualUpdateFallback*>(this);
};

}  // namespace orvik
