#include "viewers/media_viewers.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

template <typename Window>
void closeIfShowing(const std::weak_ptr<Window>& weak, const std::string& path) {
  platform::mainQueue().post([weak, path] {
    auto window = weak.lock();
    if (window && window->currentFilePath() == path) window->close();
  });
}

void closeNow(const std::weak_ptr<ViewerWindow>& weak) {
  if (auto window = weak.lock()) window->close();
}

}  // namespace

std::optional<GallerySelection> selectGallery(GalleryRequest request,
                                              const std::function<bool(const std::string&)>& exists) {
  const std::size_t count = request.paths.size();
  if (request.messageIds && request.messageIds->size() != count) request.messageIds.reset();
  if (request.downloadAllowed && request.downloadAllowed->size() != count) request.downloadAllowed.reset();

  GallerySelection kept;
  if (request.messageIds) kept.messageIds.emplace();
  if (request.downloadAllowed) kept.downloadAllowed.emplace();
  std::size_t start = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!exists(request.paths[i])) continue;
    if (static_cast<std::int64_t>(i) <= request.startIndex) start = kept.paths.size();
    kept.paths.push_back(request.paths[i]);
    if (kept.messageIds) kept.messageIds->push_back((*request.messageIds)[i]);
    if (kept.downloadAllowed) kept.downloadAllowed->push_back((*request.downloadAllowed)[i]);
  }
  if (kept.paths.empty()) return std::nullopt;
  kept.startIndex = std::min(kept.paths.size() - 1, start);
  if (kept.messageIds) kept.onReply = std::move(request.onReply);
  return kept;
}

MediaViewers::FileExists MediaViewers::regularFileExists() {
  return [](const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
  };
}

MediaViewers::MediaViewers(Windows windows, FileExists exists)
    : windows_(std::move(windows)), exists_(std::move(exists)) {}

void MediaViewers::showImage(const std::string& path, bool downloadAllowed) {
  GalleryRequest request;
  request.paths = {path};
  if (downloadAllowed) request.downloadAllowed = std::vector<bool>{true};
  showImages(std::move(request));
}

void MediaViewers::showImages(GalleryRequest request) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto selection = selectGallery(std::move(request), exists_);
  if (!selection) return;
  platform::mainQueue().post([windows = windows_, selection = std::move(*selection)]() mutable {
    auto viewer = windows.image.lock();
    if (!viewer) return;
    closeNow(windows.imagePiP);
    closeNow(windows.videoPiP);
    viewer->show(std::move(selection));
  });
}

void MediaViewers::showDocument(const std::string& path, const std::string& fileName) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!exists_(path)) return;
  platform::mainQueue().post([weak = windows_.document, path, fileName] {
    if (auto viewer = weak.lock()) viewer->open(path, fileName);
  });
}

void MediaViewers::showVideo(const std::string& path, bool downloadAllowed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!exists_(path)) return;
  platform::mainQueue().post([weak = windows_.video, path, downloadAllowed] {
    if (auto player = weak.lock()) player->open(path, downloadAllowed);
  });
}

void MediaViewers::closeImageViewerIfShowing(const std::string& path) {
  platform::mainQueue().post([weak = windows_.image, path] {
    auto viewer = weak.lock();
    if (!viewer) return;
    const auto gallery = viewer->filePaths();
    if (viewer->currentFilePath() == path || std::find(gallery.begin(), gallery.end(), path) != gallery.end()) {
      viewer->close();
    }
  });
}

void MediaViewers::closeImagePiPIfShowing(const std::string& path) { closeIfShowing(windows_.imagePiP, path); }

void MediaViewers::closeVideoPlayerIfShowing(const std::string& path) {
  platform::mainQueue().post([video = windows_.video, pip = windows_.videoPiP, path] {
    auto player = video.lock();
    if (!player || player->currentFilePath() != path) return;
    closeNow(pip);
    player->close();
  });
}

void MediaViewers::closeDocumentViewerIfShowing(const std::string& path) {
  closeIfShowing(windows_.document, path);
}

}  // namespace orvik
