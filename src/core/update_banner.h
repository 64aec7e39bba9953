// What the script bridge needs of the update banner's shared state: whether a
// user is signed in (the banner's placement and whether it may show), its
// bottom offset, and the update check the page can ask for. The updater's
// shared update service implements it.
// THREAD-SAFETY: main queue only.
#pragma once

namespace orvik {

class UpdateBanner {
 public:
  virtual ~UpdateBanner() = default;
  virtual void setUserLoggedIn(bool loggedIn) = 0;
  virtual void setBannerAnchorBottom(double points) = 0;
  virtual void setShowUpdateDialog(bool show) = 0;
  // An update is on offer.
  virtual bool hasUpdateInfo() const = 0;
  virtual void checkForUpdates(bool silent) = 0;
};

}  // namespace orvik
