// SavePanels for tests: records every chooser it was asked to show and keeps
// its completion until the test answers it.
// THREAD-SAFETY: main queue, as the interface.
#pragma once

#include <utility>
#include <vector>

#include "files/save_panels.h"

namespace orvik {

class RecordingSavePanels final : public SavePanels {
 public:
  enum class Kind { save, folder };
  struct Shown {
    Kind kind;
    SavePanelRequest save;
    FolderPanelRequest folder;
    PanelCompletion completion;
  };

  void showSavePanel(const SavePanelRequest& request, PanelCompletion completion) override {
    shown.push_back({Kind::save, request, {}, std::move(completion)});
  }
  void showFolderPanel(const FolderPanelRequest& request, PanelCompletion completion) override {
    shown.push_back({Kind::folder, {}, request, std::move(completion)});
  }
  void raisePanel() override { ++raised; }

  // Answers the most recent chooser as the user would.
  void answer(const std::optional<std::filesystem::path>& chosen) {
    auto completion = std::exchange(shown.back().completion, nullptr);
    if (completion) completion(chosen);
  }

  std::vector<Shown> shown;
  int raised = 0;
};

}  // namespace orvik
