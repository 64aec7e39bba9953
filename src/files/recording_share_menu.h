// ShareMenu for tests: keeps the actions of every menu shown so the test can
// pick one, and records the files offered to other applications.
// THREAD-SAFETY: main queue, as the interface.
#pragma once

#include <vector>

#include "files/share_menu.h"

namespace orvik {

class RecordingShareMenu final : public ShareMenu {
 public:
  bool present(ShareMenuActions actions) override {
    if (!hasWindow) return false;
    shown.push_back(std::move(actions));
    return true;
  }
  void chooseApplication(const std::filesystem::path& file) override { chosenFor.push_back(file); }

  bool hasWindow = true;
  std::vector<ShareMenuActions> shown;
  std::vector<std::filesystem::path> chosenFor;
};

}  // namespace orvik
