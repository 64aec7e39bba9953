// SystemOpener for tests: records what it was asked to open or reveal and
// answers openURL with `openResult`.
// THREAD-SAFETY: main queue, as the interface.
#pragma once

#include <vector>

#include "platform/system_opener.h"

namespace orvik::platform {

class RecordingSystemOpener final : public SystemOpener {
 public:
  bool openURL(const std::string& url) override {
    openedURLs.push_back(url);
    return openResult;
  }
  void revealFile(const std::filesystem::path& file) override { revealedFiles.push_back(file); }
  bool openDesktopApplication(const std::vector<std::string>& desktopIds) override {
    openedApplications.push_back(desktopIds);
    return openResult;
  }

  bool openResult = true;
  std::vector<std::string> openedURLs;
  std::vector<std::filesystem::path> revealedFiles;
  std::vector<std::vector<std::string>> openedApplications;
};

}  // namespace orvik::platform
