// The viewers' entry points: the bridge's opens and closes reach the viewer
// windows here. A gallery keeps only the images whose files exist (with their
// message ids and download flags, when those lists match the paths in
// length) and starts at the last kept image at or before the requested
// index; a document or video opens only when its file exists. Every open and
// close is a step queued on the main queue that finds its viewer through a
// weak reference.
//
// Opening a gallery closes both picture-in-picture panels first; the video
// player and the document viewer close them themselves when they open.
// Closing the video player for a deleted file closes its picture-in-picture
// panel first.
// THREAD-SAFETY: main queue.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "viewers/viewer_entry_points.h"

namespace orvik {

// A gallery once its missing files are gone.
struct GallerySelection {
  std::vector<std::string> paths;
  std::size_t startIndex = 0;
  std::optional<std::vector<std::string>> messageIds;
  std::function<void(const std::string& messageId)> onReply;  // only with messageIds
  std::optional<std::vector<bool>> downloadAllowed;
};

// The gallery to show for `request`, or none when no file of it exists.
std::optional<GallerySelection> selectGallery(GalleryRequest request,
                                              const std::function<bool(const std::string&)>& exists);

// One viewer window as the entry points see it.
class ViewerWindow {
 public:
  virtual ~ViewerWindow() = default;
  // The file on show; none while closed.
  virtual std::optional<std::string> currentFilePath() const = 0;
  virtual void close() = 0;
};

class ImageViewer : public ViewerWindow {
 public:
  // The whole gallery on show.
  virtual std::vector<std::string> filePaths() const = 0;
  virtual void show(GallerySelection selection) = 0;
};

class DocumentViewer : public ViewerWindow {
 public:
  virtual void open(const std::string& path, const std::string& fileName) = 0;
};

class VideoPlayer : public ViewerWindow {
 public:
  virtual void open(const std::string& path, bool downloadAllowed) = 0;
};

class MediaViewers final : public ViewerEntryPoints {
 public:
  struct Windows {
    std::weak_ptr<ImageViewer> image;
    std::weak_ptr<ViewerWindow> imagePiP;
    std::weak_ptr<VideoPlayer> video;
    std::weak_ptr<ViewerWindow> videoPiP;
    std::weak_ptr<DocumentViewer> document;
  };
  using FileExists = std::function<bool(const std::string& path)>;
  static FileExists regularFileExists();

  explicit MediaViewers(Windows windows, FileExists exists = regularFileExists());

  void showImage(const std::string& path, bool downloadAllowed) override;
  void showImages(GalleryRequest request) override;
  void showDocument(const std::string& path, const std::string& fileName) override;
  void showVideo(const std::string& path, bool downloadAllowed) override;

  void closeImageViewerIfShowing(const std::string& path) override;
  void closeImagePiPIfShowing(const std::string& path) override;
  void closeVideoPlayerIfShowing(const std::string& path) override;
  void closeDocumentViewerIfShowing(const std::string& path) override;

 private:
  Windows windows_;
  FileExists exists_;
};

}  // namespace orvik
