#include "files/orvik_helper.h"

#include <glib.h>

#include <utility>

#include "core/file_security.h"
#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "files/image_clipboard.h"
#include "files/safe_file_copy.h"
#include "platform/file_io.h"
#include "platform/queue_checker.h"
#include "platform/system_opener.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

bool isDirectory(const fs::path& folder) {
  std::error_code error;
  return fs::is_directory(folder, error);
}

}  // namespace

OrvikHelper::FolderProvider OrvikHelper::systemDownloads() {
  return []() -> std::optional<fs::path> {
    fs::path folder = downloadsFolder();
    if (!isDirectory(folder)) return std::nullopt;
    return folder;
  };
}

OrvikHelper::OrvikHelper(SavePanels& panels, platform::SystemOpener& opener, platform::UserDefaults& defaults,
                         platform::TaskQueue& copies, FolderProvider downloads, Sharing sharing)
    : panels_(panels),
      opener_(opener),
      defaults_(defaults),
      copies_(copies),
      downloads_(std::move(downloads)),
      sharing_(std::move(sharing)) {}

OrvikHelper::~OrvikHelper() {
  for (auto& [id, batch] : batches_) {
    if (batch.timeout) batch.timeout->cancel();
  }
}

std::optional<fs::path> OrvikHelper::lastSaveDirectory() const {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto stored = defaults_.string(kLastDirectoryKey); stored && !stored->empty() && isDirectory(*stored)) {
    return fs::path(*stored);
  }
  return downloads_ ? downloads_() : std::nullopt;
}

void OrvikHelper::revealInFinder(const fs::path& file) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto now = platform::mainQueue().monotonicNow();
  if (lastRevealedPath_ == file && lastRevealedAt_ &&
      now - *lastRevealedAt_ < std::chrono::duration<double>(kRevealDebounce)) {
    return;
  }
  lastRevealedPath_ = file;
  lastRevealedAt_ = now;
  opener_.revealFile(file);
}

void OrvikHelper::saveWithPanel(const fs::path& source, std::string_view suggestedName, Gtk::Window* window,
                                Hold hold) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (panelOpen_) {
    panels_.raisePanel();
    return;
  }
  panelOpen_ = true;
  SavePanelRequest request{FileSecurity::sanitizedFileName(suggestedName), lastSaveDirectory(), window};
  panels_.showSavePanel(request, [weak = lifetime_.weak(this), source, hold = std::move(hold)](
                                     const std::optional<fs::path>& chosen) mutable {
    if (auto* self = weak.get()) self->onSavePanelEnded(source, std::move(hold), chosen);
  });
}

void OrvikHelper::onSavePanelEnded(const fs::path& source, Hold hold, const std::optional<fs::path>& chosen) {
  panelOpen_ = false;
  if (!chosen || chosen->empty()) return;
  rememberFolder(chosen->parent_path());
  copies_.post([source, destination = *chosen, hold = std::move(hold)]() mutable {
    (void)copyFileReplacing(source, destination);
    hold.reset();
  });
}

void OrvikHelper::addToSaveBatch(const fs::path& source, std::string_view name, const std::string& batchId,
                                 std::int64_t count, Hold hold) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (count < 2) {
    saveWithPanel(source, name, nullptr, std::move(hold));
    return;
  }
  auto [entry, isNew] = batches_.try_emplace(batchId);
  PendingBatch& batch = entry->second;
  if (isNew) batch.count = count;
  if (batch.timeout) batch.timeout->cancel();
  batch.items.push_back({source, std::string(name), std::move(hold)});

  if (static_cast<std::int64_t>(batch.items.size()) >= batch.count) {
    std::vector<SaveItem> items = std::move(batch.items);
    batches_.erase(entry);
    chooseFolderForBatch(std::move(items));
    return;
  }
  batch.timeout = std::make_shared<platform::WorkItem>([weak = lifetime_.weak(this), batchId] {
    if (auto* self = weak.get()) self->flushBatch(batchId);
  });
  platform::mainQueue().postAfter(kBatchFlushDelay, batch.timeout);
}

void OrvikHelper::flushBatch(const std::string& batchId) {
  auto entry = batches_.find(batchId);
  if (entry == batches_.end()) return;
  std::vector<SaveItem> items = std::move(entry->second.items);
  batches_.erase(entry);
  chooseFolderForBatch(std::move(items));
}

void OrvikHelper::chooseFolderForBatch(std::vector<SaveItem> items) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (items.empty()) return;
  if (items.size() == 1) {
    saveWithPanel(items.front().source, items.front().name, nullptr, std::move(items.front().hold));
    return;
  }
  if (panelOpen_) {
    panels_.raisePanel();
    return;
  }
  panelOpen_ = true;
  FolderPanelRequest request{"Choose a folder to save " + std::to_string(items.size()) + " files", "Save",
                             lastSaveDirectory()};
  panels_.showFolderPanel(request, [weak = lifetime_.weak(this), items = std::move(items)](
                                       const std::optional<fs::path>& chosen) mutable {
    if (auto* self = weak.get()) self->onFolderPanelEnded(std::move(items), chosen);
  });
}

void OrvikHelper::onFolderPanelEnded(std::vector<SaveItem> items, const std::optional<fs::path>& chosen) {
  panelOpen_ = false;
  if (!chosen || chosen->empty()) return;
  rememberFolder(*chosen);
  // Names come from the page: only their last component counts, so every
  // file lands in the chosen folder. One task keeps the batch's order.
  copies_.post([folder = *chosen, items = std::move(items)]() mutable {
    for (const auto& item : items) {
      (void)copyFileUnderFreeName(item.source, folder, FileSecurity::sanitizedFileName(item.name));
    }
    items.clear();
  });
}

std::optional<fs::path> OrvikHelper::shareImage(const std::string& data, std::string_view fileName,
                                                const std::optional<std::string>& text) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!sharing_.menu) return std::nullopt;
  gchar* uuid = g_uuid_string_random();
  const fs::path folder = sharing_.stagingRoot / (std::string("OrvikShare-") + uuid);
  g_free(uuid);
  const std::string name = FileSecurity::sanitizedFileName(fileName);
  const fs::path file = folder / name;
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !platform::writeFileAtomically(file, data)) {
    fs::remove_all(folder, error);
    return std::nullopt;
  }
  ShareMenuActions actions;
  actions.copyImage = [clipboard = sharing_.clipboard, data, text] {
    if (clipboard && !clipboard->writeImage(data, text)) nativeLog("[Share] the shared file is not an image");
  };
  actions.openWith = [menu = sharing_.menu, file] { menu->chooseApplication(file); };
  actions.saveAs = [weak = lifetime_.weak(this), file, name] {
    if (auto* self = weak.get()) self->saveWithPanel(file, name);
  };
  if (!sharing_.menu->present(std::move(actions))) {
    fs::remove_all(folder, error);
    return std::nullopt;
  }
  return file;
}

void OrvikHelper::rememberFolder(const fs::path& folder) {
  if (!folder.empty()) defaults_.setString(kLastDirectoryKey, folder.string());
}

}  // namespace orvik
