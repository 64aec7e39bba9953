// ViewerEntryPoints for tests: records every call, in order, as text
// ("showImages /a/b.jpg,/a/c.jpg start 1"), and keeps the last gallery.
// THREAD-SAFETY: main queue, as the interface.
#pragma once

#include <string>
#include <vector>

#include "viewers/viewer_entry_points.h"

namespace orvik {

class RecordingViewerEntryPoints final : public ViewerEntryPoints {
 public:
  void showImage(const std::string& path, bool downloadAllowed) override {
    calls.push_back("showImage " + path + (downloadAllowed ? " download" : ""));
  }
  void showImages(GalleryRequest request) override {
    std::string joined;
    for (const auto& path : request.paths) joined += (joined.empty() ? "" : ",") + path;
    calls.push_back("showImages " + joined + " start " + std::to_string(request.startIndex));
    lastGallery = std::move(request);
  }
  void showDocument(const std::string& path, const std::string& fileName) override {
    calls.push_back("showDocument " + path + " as " + fileName);
  }
  void showVideo(const std::string& path, bool downloadAllowed) override {
    calls.push_back("showVideo " + path + (downloadAllowed ? " download" : ""));
  }
  void closeImageViewerIfShowing(const std::string& path) override { calls.push_back("closeImageViewer " + path); }
  void closeImagePiPIfShowing(const std::string& path) override { calls.push_back("closeImagePiP " + path); }
  void closeVideoPlayerIfShowing(const std::string& path) override { calls.push_back("closeVideoPlayer " + path); }
  void closeDocumentViewerIfShowing(const std::string& path) override {
    calls.push_back("closeDocumentViewer " + path);
  }

  std::vector<std::string> calls;
  GalleryRequest lastGallery;
};

}  // namespace orvik
