#include "updater/update_card_presenter.h"

#include <algorithm>
#include <cmath>

namespace orvik {

int downloadPercent(double progress) {
  if (!std::isfinite(progress)) return 0;
  return static_cast<int>(std::clamp(std::trunc(progress * 100.0), 0.0, 100.0));
}

UpdateCardModel presentUpdateCard(const UpdateCardInputs& inputs) {
  UpdateCardModel model;
  model.visible = inputs.showUpdateDialog && inputs.info.has_value();
  const auto& download = inputs.download;
  if (download.isInstalling) {
    model.subtitle = "Installing update…";
    model.action = UpdateCardModel::Action::installing;
  } else if (download.isDownloading) {
    model.subtitle = "Downloading " + std::to_string(downloadPercent(download.downloadProgress)) + "%";
    model.action = UpdateCardModel::Action::none;
  } else if (download.errorMessage) {
    model.subtitle = *download.errorMessage;
    model.subtitleIsError = true;
  } else if (inputs.info) {
    model.subtitle = "v" + inputs.info->version + " (" + inputs.info->buildVersion + ") is available";
  }
  model.showProgressBar = download.isDownloading;
  model.progressFraction =
      std::isfinite(download.downloadProgress) ? std::clamp(download.downloadProgress, 0.0, 1.0) : 0.0;
  model.showCloseButton = !download.isDownloading && !download.isInstalling;
  model.showArrow = inputs.userLoggedIn;
  model.alignStart = inputs.userLoggedIn;
  model.marginStart = inputs.userLoggedIn ? 72 : 0;
  model.marginEnd = inputs.userLoggedIn ? 0 : 24;
  model.marginBottom = inputs.userLoggedIn ? static_cast<int>(std::lround(inputs.bannerAnchorBottom)) : 24;
  return model;
}

}  // namespace orvik
