#include "viewers/media_viewers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {
using platform::VirtualQueue;

TEST(SelectGallery, KeepsExistingFilesAndStartsAtTheLastKeptOneAtOrBeforeTheIndex) {
  struct Case {
    const char* label;
    std::vector<std::string> paths;
    std::set<std::string> existing;
    std::int64_t start;
    std::vector<std::string> kept;
    std::size_t keptStart;
  };
  const std::vector<Case> cases = {
      {"middle missing, start 2", {"a", "b", "c"}, {"a", "c"}, 2, {"a", "c"}, 1},
      {"first missing, start 0", {"a", "b", "c"}, {"b", "c"}, 0, {"b", "c"}, 0},
      {"negative start", {"a", "b"}, {"a", "b"}, -3, {"a", "b"}, 0},
      {"start past the end", {"a", "b", "c"}, {"a", "b", "c"}, 9, {"a", "b", "c"}, 2},
      {"start at a missing file", {"a", "b", "c", "d"}, {"a", "c", "d"}, 1, {"a", "c", "d"}, 0},
      {"all present", {"a", "b", "c"}, {"a", "b", "c"}, 1, {"a", "b", "c"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    GalleryRequest request;
    request.paths = c.paths;
    request.startIndex = c.start;
    const auto selection = selectGallery(request, [&](const std::string& p) { return c.existing.contains(p); });
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->paths, c.kept);
    EXPECT_EQ(selection->startIndex, c.keptStart);
  }
}

TEST(SelectGallery, KeepsParallelListsOnlyWhenTheirLengthsMatchAndDropsEntriesOfMissingFiles) {
  GalleryRequest request;
  request.paths = {"a", "b", "c"};
  request.messageIds = std::vector<std::string>{"1", "2", "3"};
  request.downloadAllowed = std::vector<bool>{true, false, true};
  int replies = 0;
  request.onReply = [&](const std::string&) { ++replies; };
  auto selection = selectGallery(request, [](const std::string& p) { return p != "b"; });
  ASSERT_TRUE(selection);
  EXPECT_EQ(selection->messageIds, (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(selection->downloadAllowed, (std::vector<bool>{true, true}));
  ASSERT_TRUE(selection->onReply);

  // One id short: no ids and no reply; the flags still count.
  request.messageIds = std::vector<std::string>{"1", "2"};
  selection = selectGallery(request, [](const std::string&) { return true; });
  ASSERT_TRUE(selection);
  EXPECT_FALSE(selection->messageIds);
  EXPECT_FALSE(selection->onReply);
  EXPECT_EQ(selection->downloadAllowed, (std::vector<bool>{true, false, true}));

  EXPECT_FALSE(selectGallery(request, [](const std::string&) { return false; }));
}

struct FakeWindow {
  std::optional<std::string> current;
  std::vector<std::string>* log = nullptr;
  std::string name;
  void close() {
    log->push_back("close " + name);
    current.reset();
  }
};

class FakeImageViewer final : public ImageViewer {
 public:
  explicit FakeImageViewer(std::vector<std::string>& log) { w.log = &log, w.name = "image"; }
  std::optional<std::string> currentFilePath() const override { return w.current; }
  void close() override {
    w.close();
    gallery.clear();
  }
  std::vector<std::string> filePaths() const override { return gallery; }
  void show(GallerySelection selection) override {
    w.log->push_back("show image " + selection.paths[selection.startIndex]);
    gallery = selection.paths;
    w.current = selection.paths[selection.startIndex];
  }
  FakeWindow w;
  std::vector<std::string> gallery;
};

class FakePanel final : public ViewerWindow {
 public:
  FakePanel(std::vector<std::string>& log, std::string name) { w.log = &log, w.name = std::move(name); }
  std::optional<std::string> currentFilePath() const override { return w.current; }
  void close() override { w.close(); }
  FakeWindow w;
};

class FakeVideo final : public VideoPlayer {
 public:
  explicit FakeVideo(std::vector<std::string>& log) { w.log = &log, w.name = "video"; }
  std::optional<std::string> currentFilePath() const override { return w.current; }
  void close() override { w.close(); }
  void open(const std::string& path, bool download) override {
    w.log->push_back("open video " + path + (download ? " download" : ""));
    w.current = path;
  }
  FakeWindow w;
};

class FakeDocument final : public DocumentViewer {
 public:
  explicit FakeDocument(std::vector<std::string>& log) { w.log = &log, w.name = "document"; }
  std::optional<std::string> currentFilePath() const override { return w.current; }
  void close() override { w.close(); }
  void open(const std::string& path, const std::string& name) override {
    w.log->push_back("open document " + path + " as " + name);
    w.current = path;
  }
  FakeWindow w;
};

class MediaViewersTest : public ::testing::Test {
 protected:
  std::vector<std::string> log_;
  VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::shared_ptr<FakeImageViewer> image_ = std::make_shared<FakeImageViewer>(log_);
  std::shared_ptr<FakePanel> imagePiP_ = std::make_shared<FakePanel>(log_, "imagePiP");
  std::shared_ptr<FakeVideo> video_ = std::make_shared<FakeVideo>(log_);
  std::shared_ptr<FakePanel> videoPiP_ = std::make_shared<FakePanel>(log_, "videoPiP");
  std::shared_ptr<FakeDocument> document_ = std::make_shared<FakeDocument>(log_);
  std::set<std::string> existing_ = {"/d/a.jpg", "/d/c.jpg", "/d/v.mp4", "/d/r.pdf"};
  MediaViewers viewers_{{image_, imagePiP_, video_, videoPiP_, document_},
                        [this](const std::string& p) { return existing_.contains(p); }};
};

TEST_F(MediaViewersTest, OpensInAQueuedStepAndAGalleryClosesBothPanelsFirst) {
  imagePiP_->w.current = "/d/x.jpg";
  videoPiP_->w.current = "/d/v.mp4";
  GalleryRequest request;
  request.paths = {"/d/a.jpg", "/d/b.jpg", "/d/c.jpg"};
  request.startIndex = 2;
  viewers_.showImages(request);
  viewers_.showDocument("/d/r.pdf", "Report.pdf");
  viewers_.showDocument("/d/missing.pdf", "Missing.pdf");
  viewers_.showVideo("/d/v.mp4", true);
  viewers_.showVideo("/d/missing.mp4", false);
  EXPECT_TRUE(log_.empty());
  queue_.runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"close imagePiP", "close videoPiP", "show image /d/c.jpg",
                                            "open document /d/r.pdf as Report.pdf", "open video /d/v.mp4 download"}));
}

TEST_F(MediaViewersTest, ClosesOnlyTheViewersThatShowThePath) {
  image_->show({{"/d/a.jpg", "/d/c.jpg"}, 0, {}, {}, {}});
  video_->w.current = "/d/v.mp4";
  document_->w.current = "/d/r.pdf";
  imagePiP_->w.current = "/d/x.jpg";
  log_.clear();

  // A gallery image that is not on screen still closes the image viewer.
  for (const char* path : {"/d/c.jpg", "/d/elsewhere.jpg"}) {
    viewers_.closeImageViewerIfShowing(path);
    viewers_.closeImagePiPIfShowing(path);
    viewers_.closeVideoPlayerIfShowing(path);
    viewers_.closeDocumentViewerIfShowing(path);
  }
  viewers_.closeVideoPlayerIfShowing("/d/v.mp4");
  viewers_.closeDocumentViewerIfShowing("/d/r.pdf");
  queue_.runUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"close image", "close videoPiP", "close video", "close document"}));
}

TEST_F(MediaViewersTest, StepsFindTheirViewerGone) {
  viewers_.showDocument("/d/r.pdf", "Report.pdf");
  document_.reset();
  queue_.runUntilIdle();
  EXPECT_TRUE(log_.empty());
}

}  // namespace
}  // namespace orvik
