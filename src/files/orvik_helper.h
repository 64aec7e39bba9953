// The one object through which the program hands local files to the user:
// saves a file where the user chooses (a save chooser for one file, a folder
// chooser for several sent together), shares an image through the program's
// share menu, and shows a file in the file manager.
// The bridge's save messages and the viewers' download buttons call it.
//
// One chooser at a time: a request that arrives while one is open only raises
// it and is dropped. Files announced as a batch are gathered until all have
// come, or until none has come for kBatchFlushDelay, and then saved into one
// folder; the count the batch's first file announced wins. The folder of the
// last save is remembered across launches under kLastDirectoryKey.
//
// Saving never loses a file: the copy is written beside its destination and
// moved into place once complete, picking the source itself as the
// destination does nothing, and a batch never replaces anything (taken names
// get " 2", " 3" … before the extension). Copy failures are not reported: the
// page has no reply for them.
//
// THREAD-SAFETY: main queue only. Copies run on the copy queue given; the
// choosers' completions and the batch time-outs arrive on the main queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/save_panels.h"
#include "files/share_menu.h"
#include "platform/dispatch/task_queue.h"
#include "platform/lifetime_token.h"

namespace orvik {
namespace platform {
class SystemOpener;
class UserDefaults;
}  // namespace platform

class ImageClipboard;

// What the file helper's shareImage needs: the menu, the clipboard behind its
// "Copy Image", and the folder staged images are written into. Without a
// menu nothing is shared.
struct ImageSharing {
  ShareMenu* menu = nullptr;
  ImageClipboard* clipboard = nullptr;
  std::filesystem::path stagingRoot = std::filesystem::temp_directory_path();
};

class OrvikHelper {
 public:
  static constexpr double kBatchFlushDelay = 3.0;
  static constexpr double kRevealDebounce = 1.0;
  static constexpr std::string_view kLastDirectoryKey = "orvik.mediaSave.lastDirectory";

  // Kept by a save until it is over (copied, cancelled or dropped), then
  // released on whichever queue ends it: staged sources clean up that way.
  using Hold = std::shared_ptr<const void>;

  struct SaveItem {
    std::filesystem::path source;
    std::string name;
    Hold hold;
  };
  // The user's download folder when there is one.
  using FolderProvider = std::function<std::optional<std::filesystem::path>()>;
  static FolderProvider systemDownloads();

  using Sharing = ImageSharing;

  OrvikHelper(SavePanels& panels, platform::SystemOpener& opener, platform::UserDefaults& defaults,
              platform::TaskQueue& copies, FolderProvider downloads = systemDownloads(), Sharing sharing = {});
  ~OrvikHelper();
  OrvikHelper(const OrvikHelper&) = delete;
  OrvikHelper& operator=(const OrvikHelper&) = delete;

  // The remembered folder while it exists, else the download folder, else none.
  std::optional<std::filesystem::path> lastSaveDirectory() const;

  // Shows `file` selected in the file manager; the same file again within
  // kRevealDebounce is ignored.
  void revealInFinder(const std::filesystem::path& file);

  // Offers a save chooser for one file. `window` is the caller's window, if
  // any (a viewer's); the chooser's parent is chosen by the backend.
  void saveWithPanel(const std::filesystem::path& source, std::string_view suggestedName,
                     Gtk::Window* window = nullptr, Hold hold = {});

  // One file of the batch `batchId`, announced to hold `count` files. A count
  // below 2 saves the file on its own.
  void addToSaveBatch(const std::filesystem::path& source, std::string_view name, const std::string& batchId,
                      std::int64_t count, Hold hold = {});

  // Offers one folder for `items`; a single item gets the save chooser.
  void chooseFolderForBatch(std::vector<SaveItem> items);

  // Writes `data` as `fileName` (cleaned to a bare name) into a new private
  // folder "OrvikShare-<uuid>" of the staging root and offers it in the share
  // menu: "Copy Image" copies the image with `text`, "Open With…" hands the
  // file to an application the user picks, "Save As…" saves it. The staged
  // file stays, since another application may still be reading it. The
  // staged path, or none when nothing could be staged or shown.
  std::optional<std::filesystem::path> shareImage(const std::string& data, std::string_view fileName,
                                                  const std::optional<std::string>& text);

  bool hasOpenPanel() const { return panelOpen_; }
  std::size_t pendingBatchCount() const { return batches_.size(); }

 private:
  struct PendingBatch {
    std::int64_t count = 0;
    std::vector<SaveItem> items;
    std::shared_ptr<platform::WorkItem> timeout;
  };

  void flushBatch(const std::string& batchId);
  void rememberFolder(const std::filesystem::path& folder);
  void onSavePanelEnded(const std::filesystem::path& source, Hold hold,
                        const std::optional<std::filesystem::path>& chosen);
  void onFolderPanelEnded(std::vector<SaveItem> items, const std::optional<std::filesystem::path>& chosen);

  SavePanels& panels_;
  platform::SystemOpener& opener_;
  platform::UserDefaults& defaults_;
  platform::TaskQueue& copies_;
  FolderProvider downloads_;
  Sharing sharing_;

  bool panelOpen_ = false;
  std::map<std::string, PendingBatch> batches_;
  std::optional<std::filesystem::path> lastRevealedPath_;
  std::optional<std::chrono::steady_clock::time_point> lastRevealedAt_;

  platform::LifetimeToken lifetime_;  // last member: goes first
};

}  // namespace orvik
