// What the update card in the main window shows and where, from the update
// service's published state and the downloader's: a pure function, so the
// GTK card only renders it.
//
// THREAD-SAFETY: pure.
#pragma once

#include <optional>
#include <string>

#include "updater/app_update_info.h"
#include "updater/update_downloader.h"

namespace orvik {

struct UpdateCardInputs {
  std::optional<AppUpdateInfo> info;
  bool showUpdateDialog = false;
  bool userLoggedIn = false;  // the card points at the page's side strip
  double bannerAnchorBottom = 260.0;
  UpdateDownloadState download;
};

struct UpdateCardModel {
  enum class Action { update, installing, none };

  bool visible = false;
  std::string title = "Update Available";
  std::string subtitle;
  bool subtitleIsError = false;  // drawn in orange on one line
  Action action = Action::update;
  bool showProgressBar = false;
  double progressFraction = 0.0;  // 0 to 1
  bool showCloseButton = true;
  bool showArrow = false;
  // Placement in the window: bottom-left beside the strip, else bottom-right.
  bool alignStart = false;
  int marginStart = 0;
  int marginEnd = 24;
  int marginBottom = 24;

  bool operator==(const UpdateCardModel&) const = default;
};

UpdateCardModel presentUpdateCard(const UpdateCardInputs& inputs);

// "Downloading 42%": the progress cut to a whole percentage, 0 for a value
// that is not a finite number, never outside 0 to 100.
int downloadPercent(double progress);

}  // namespace orvik
