// What the bridge asks of the viewers: open an image, a gallery, a document
// or a video, and close whichever viewer shows a file that is being deleted.
// Every open and close runs in a step queued on the main queue, never inside
// the call; each step finds its viewer again and does nothing when it is gone.
// Production: MediaViewers (media_viewers.h). Test double:
// RecordingViewerEntryPoints (recording_viewer_entry_points.h).
// THREAD-SAFETY: main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvik {

struct GalleryRequest {
  std::vector<std::string> paths;
  std::int64_t startIndex = 0;
  // Parallel to `paths` when given; kept only when their lengths match.
  std::optional<std::vector<std::string>> messageIds;
  // Called with the message id of the image on show; given only with messageIds.
  std::function<void(const std::string& messageId)> onReply;
  std::optional<std::vector<bool>> downloadAllowed;
};

class ViewerEntryPoints {
 public:
  virtual ~ViewerEntryPoints() = default;
  virtual void showImage(const std::string& path, bool downloadAllowed) = 0;
  virtual void showImages(GalleryRequest request) = 0;
  virtual void showDocument(const std::string& path, const std::string& fileName) = 0;
  virtual void showVideo(const std::string& path, bool downloadAllowed) = 0;

  virtual void closeImageViewerIfShowing(const std::string& path) = 0;
  virtual void closeImagePiPIfShowing(const std::string& path) = 0;
  virtual void closeVideoPlayerIfShowing(const std::string& path) = 0;
  virtual void closeDocumentViewerIfShowing(const std::string& path) = 0;
};

}  // namespace orvik
