#include "viewers/viewer_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/recording_message_routes.h"
#include "platform/test_support/temp_dir.h"
#include "viewers/recording_viewer_entry_points.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::TempDir;
using ::testing::ElementsAre;

class ViewerMessagesTest : public ::testing::Test {
 protected:
  ViewerMessagesTest() {
    fs::create_directories(documents_);
    messages_.publishRoutes(routes_);
  }
  void send(const json& payload) { routes_.handlers.at(payload["eventType"].get<std::string>())(payload); }

  TempDir dir_;
  fs::path documents_ = dir_ / "data/Documents/Orvik";
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  RecordingViewerEntryPoints viewers_;
  ViewerMessages messages_{viewers_, page_, [this] { return documents_; }};
  orvik::testing::RecordingMessageRoutes routes_;
};

TEST_F(ViewerMessagesTest, ReadsEachOpenMessagesPayloadAsTheViewersTakeIt) {
  struct Case {
    json payload;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {{{"eventType", "openImageModal"}, {"localFilePath", "/d/a.jpg"}}, {"showImage /d/a.jpg"}},
      {{{"eventType", "openImageModal"}, {"localFilePath", "/d/a.jpg"}, {"downloadAllowed", true}},
       {"showImage /d/a.jpg download"}},
      {{{"eventType", "openImageModal"}, {"localFilePath", "/d/a.jpg"}, {"downloadAllowed", "yes"}},
       {"showImage /d/a.jpg"}},
      {{{"eventType", "openImageModal"}}, {}},
      {{{"eventType", "openImageGallery"}, {"localFilePaths", {"/d/a.jpg", "/d/b.jpg"}}, {"startIndex", 1}},
       {"showImages /d/a.jpg,/d/b.jpg start 1"}},
      {{{"eventType", "openImageGallery"}, {"localFilePaths", {"/d/a.jpg"}}, {"startIndex", "1"}},
       {"showImages /d/a.jpg start 0"}},
      {{{"eventType", "openImageGallery"}, {"localFilePaths", json::array()}}, {}},
      {{{"eventType", "openImageGallery"}, {"localFilePaths", {"/d/a.jpg", 3}}}, {}},
      {{{"eventType", "openDocumentModal"}, {"localFilePath", "/d/r.pdf"}, {"fileName", "R.pdf"}},
       {"showDocument /d/r.pdf as R.pdf"}},
      {{{"eventType", "openDocumentModal"}, {"localFilePath", "/d/r.pdf"}}, {}},
      {{{"eventType", "openVideoModal"}, {"localFilePath", "/d/v.mp4"}, {"downloadAllowed", true}},
       {"showVideo /d/v.mp4 download"}},
      {{{"eventType", "openVideoModal"}, {"localFilePath", 5}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload.dump());
    viewers_.calls.clear();
    send(c.payload);
    EXPECT_EQ(viewers_.calls, c.calls);
  }
}

TEST_F(ViewerMessagesTest, GalleryIdsBecomeTextsFlagsStrictBooleansAndTheReplyIsAJsonString) {
  send({{"eventType", "openImageGallery"},
        {"localFilePaths", {"/d/a.jpg", "/d/b.jpg", "/d/c.jpg"}},
        {"messageIds", {12, "m'2\"", true}},
        {"downloadAllowed", {true, "true", 1}}});
  const GalleryRequest& gallery = viewers_.lastGallery;
  ASSERT_TRUE(gallery.messageIds);
  EXPECT_THAT(*gallery.messageIds, ElementsAre("12", "m'2\"", "true"));
  ASSERT_TRUE(gallery.downloadAllowed);
  EXPECT_THAT(*gallery.downloadAllowed, ElementsAre(true, false, false));
  ASSERT_TRUE(gallery.onReply);
  gallery.onReply("m'2\"");
  queue_.runUntilIdle();
  EXPECT_THAT(page_->scripts, ElementsAre("if (typeof window.onNativeGalleryReply === 'function') "
                                          "window.onNativeGalleryReply(\"m'2\\\"\");"));

  send({{"eventType", "openImageGallery"}, {"localFilePaths", {"/d/a.jpg"}}});
  EXPECT_FALSE(viewers_.lastGallery.messageIds);
  EXPECT_FALSE(viewers_.lastGallery.onReply);
  EXPECT_FALSE(viewers_.lastGallery.downloadAllowed);
}

TEST_F(ViewerMessagesTest, DeletesOnlyPlainFilesOfTheDocumentsFolderAfterAskingEveryViewerToClose) {
  const fs::path inside = documents_ / "a.jpg";
  const fs::path nested = documents_ / "sub/b.pdf";
  const fs::path sibling = dir_ / "data/Documents/Orvik-other/c.jpg";  // a name that merely begins alike
  const fs::path outside = dir_ / "home/notes.txt";
  const fs::path linkOut = documents_ / "link.txt";
  const fs::path dotted = documents_ / "../../../home/notes.txt";
  for (const auto& file : {inside, nested, sibling, outside}) TempDir::writeFile(file, "x");
  fs::create_symlink(outside, linkOut);
  fs::create_directories(documents_ / "folder");

  send({{"eventType", "deleteLocalFiles"},
        {"filePaths",
         {inside.string(), nested.string(), sibling.string(), outside.string(), dotted.string(),
          (documents_ / "folder").string(), "relative.jpg", (documents_ / "missing.jpg").string()}}});
  EXPECT_FALSE(fs::exists(inside));
  EXPECT_FALSE(fs::exists(nested));
  EXPECT_TRUE(fs::exists(sibling));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_TRUE(fs::exists(documents_ / "folder"));
  EXPECT_EQ(viewers_.calls.size(), 8u * 4u);
  EXPECT_THAT(std::vector<std::string>(viewers_.calls.begin(), viewers_.calls.begin() + 4),
              ElementsAre("closeImageViewer " + inside.string(), "closeImagePiP " + inside.string(),
                          "closeVideoPlayer " + inside.string(), "closeDocumentViewer " + inside.string()));

  // A link is removed only when it is a plain file of the folder: it is not.
  send({{"eventType", "deleteLocalFiles"}, {"filePaths", {linkOut.string()}}});
  EXPECT_TRUE(fs::is_symlink(linkOut));
  EXPECT_TRUE(fs::exists(outside));

  viewers_.calls.clear();
  send({{"eventType", "deleteLocalFiles"}, {"filePaths", json::array()}});
  send({{"eventType", "deleteLocalFiles"}, {"filePaths", inside.string()}});
  send({{"eventType", "deleteLocalFiles"}, {"filePaths", {sibling.string(), 3}}});
  EXPECT_TRUE(viewers_.calls.empty());
  EXPECT_TRUE(fs::exists(sibling));
}

}  // namespace
}  // namespace orvik
