#include "files/file_open_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/documents_folder.h"
#include "files/file_access_policy.h"
#include "files/files_test_support.h"
#include "files/orvik_helper.h"
#include "files/recording_image_clipboard.h"
#include "files/recording_save_panels.h"
#include "files/recording_share_menu.h"
#include "files/video_readback.h"
#include "platform/base64.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/recording_message_routes.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::patternBytes;
using orvik::testing::TempDir;
using orvik::testing::TestHome;
using ::testing::ElementsAre;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a picture";

class FileOpenMessagesTest : public ::testing::Test {
 protected:
  FileOpenMessagesTest() {
    fs::create_directories(staging_);
    messages_.publishRoutes(routes_);
  }

  // Handles the message and runs everything it queued, read-back included.
  void send(const json& payload) {
    routes_.handlers.at(payload["eventType"].get<std::string>())(payload);
    queue_.runUntilIdle();
  }
  fs::path document(const std::string& name, const std::string& bytes = "bytes") {
    TempDir::writeFile(docs_ / name, bytes);
    return docs_ / name;
  }
  static std::string uri(const fs::path& file) { return "file://" + file.string(); }

  TestHome home_;
  fs::path docs_ = documentsDirectory();
  fs::path staging_ = home_.outside() / "tmp";
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  platform::UserDefaults defaults_{home_.outside() / "defaults.json"};
  RecordingSavePanels panels_;
  platform::RecordingSystemOpener opener_;
  RecordingShareMenu menu_;
  RecordingImageClipboard clipboard_;
  OrvikHelper helper_{panels_, opener_, defaults_, queue_, [] { return std::optional<fs::path>(); },
                      OrvikHelper::Sharing{&menu_, &clipboard_, staging_}};
  FileAccessPolicy policy_{[this] { return std::vector<fs::path>{docs_}; }};
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  FileOpenMessages messages_{{page_, helper_, clipboard_, opener_, policy_, queue_}};
  orvik::testing::RecordingMessageRoutes routes_;
};

TEST_F(FileOpenMessagesTest, OpensRevealsOrSavesByTypeAndOnlyFilesOfTheProgram) {
  const fs::path outside = home_.path() / "Downloads/report.pdf";
  TempDir::writeFile(outside, "pdf");
  struct Case {
    const char* label;
    json payload;
    std::vector<std::string> opened;
    std::vector<fs::path> revealed;
    std::size_t savePanels;
  };
  const std::vector<Case> cases = {
      {"a PDF opens in its application",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", document("r.pdf").string()}, {"fileName", "R.pdf"}},
       {uri(docs_ / "r.pdf")}, {}, 0},
      {"a PKG in capitals is revealed, never opened",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", document("Setup.PKG").string()}, {"fileName", "S"}},
       {}, {docs_ / "Setup.PKG"}, 0},
      {"a desktop launcher is revealed",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", document("x.desktop").string()}, {"fileName", "x"}},
       {}, {docs_ / "x.desktop"}, 0},
      {"an archive is offered for saving",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", document("a.ZIP").string()}, {"fileName", "A.zip"}},
       {}, {}, 1},
      {"a document outside the program's folders is left alone",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", outside.string()}, {"fileName", "R.pdf"}},
       {}, {}, 0},
      {"a path leading out through .. is left alone",
       {{"eventType", "openOrSaveDocument"},
        {"localFilePath", (docs_ / "../../../../home/Downloads/report.pdf").string()},
        {"fileName", "R.pdf"}},
       {}, {}, 0},
      {"no fileName: nothing",
       {{"eventType", "openOrSaveDocument"}, {"localFilePath", document("r.pdf").string()}}, {}, {}, 0},
      {"an image opens",
       {{"eventType", "openOrSaveImage"}, {"localFilePath", document("p.jpg").string()}},
       {uri(docs_ / "p.jpg")}, {}, 0},
      {"an image named like a script does not",
       {{"eventType", "openOrSaveImage"}, {"localFilePath", document("p.sh").string()}}, {}, {}, 0},
      {"a folder is no file",
       {{"eventType", "openOrSaveImage"}, {"localFilePath", docs_.string()}}, {}, {}, 0},
      {"a video is offered for saving",
       {{"eventType", "openOrSaveVideo"}, {"localFilePath", document("v.mp4").string()}, {"fileName", "V.mp4"}},
       {}, {}, 1},
      {"a video outside the served places is not",
       {{"eventType", "openOrSaveVideo"}, {"localFilePath", outside.string()}, {"fileName", "V.mp4"}}, {}, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    opener_.openedURLs.clear();
    opener_.revealedFiles.clear();
    panels_.shown.clear();
    queue_.advance(2.0);  // past the reveal's quiet second
    send(c.payload);
    EXPECT_EQ(opener_.openedURLs, c.opened);
    EXPECT_EQ(opener_.revealedFiles, c.revealed);
    EXPECT_EQ(panels_.shown.size(), c.savePanels);
    if (!panels_.shown.empty()) panels_.answer(std::nullopt);
  }
}

TEST_F(FileOpenMessagesTest, CopiesTheImageWithItsTextAndRefusesWhatIsNoImage) {
  const std::string encoded = platform::encodeBase64(kPng);
  send({{"eventType", "copyImageToClipboard"}, {"base64", encoded}, {"text", "caption"}});
  send({{"eventType", "copyImageToClipboard"}, {"base64", encoded}, {"text", ""}});
  send({{"eventType", "copyImageToClipboard"}, {"base64", encoded}});
  send({{"eventType", "copyImageToClipboard"}, {"base64", platform::encodeBase64("plain text")}});
  send({{"eventType", "copyImageToClipboard"}, {"base64", "not base64!"}});
  send({{"eventType", "copyImageToClipboard"}, {"text", "no image"}});
  ASSERT_EQ(clipboard_.written.size(), 3u);
  EXPECT_EQ(clipboard_.written[0].imageBytes, kPng);
  EXPECT_EQ(clipboard_.written[0].text, "caption");
  EXPECT_EQ(clipboard_.written[1].text, std::nullopt);
  EXPECT_EQ(clipboard_.written[2].text, std::nullopt);
}

TEST_F(FileOpenMessagesTest, SharesAStagedCopyUnderACleanNameThroughTheMenu) {
  struct Case {
    const char* label;
    json payload;
    std::string stagedName;
  };
  const std::vector<Case> cases = {
      {"default name", {{"eventType", "shareImageToSystem"}, {"base64", platform::encodeBase64(kPng)}},
       "Orvik-card.png"},
      {"a name with folders keeps its last part",
       {{"eventType", "shareImageToSystem"}, {"base64", platform::encodeBase64(kPng)},
        {"fileName", "../../etc/card.png"}},
       "card.png"},
      {"a name that is only dots", {{"eventType", "shareImageToSystem"}, {"base64", platform::encodeBase64(kPng)},
                                    {"fileName", ".."}},
       "file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    menu_.shown.clear();
    for (const auto& entry : fs::directory_iterator(staging_)) fs::remove_all(entry.path());
    send(c.payload);
    ASSERT_EQ(menu_.shown.size(), 1u);
    std::vector<fs::path> staged;
    for (const auto& entry : fs::recursive_directory_iterator(staging_)) {
      if (entry.is_regular_file()) staged.push_back(entry.path());
    }
    ASSERT_EQ(staged.size(), 1u);
    EXPECT_EQ(staged[0].filename(), c.stagedName);
    EXPECT_EQ(staged[0].parent_path().parent_path(), staging_);
    EXPECT_EQ(staged[0].parent_path().filename().string().rfind("OrvikShare-", 0), 0u);
    EXPECT_EQ(staged[0].parent_path().filename().string().size(), std::string("OrvikShare-").size() + 36);
    EXPECT_EQ(TempDir::readFile(staged[0]), kPng);
  }

  // The menu's three choices.
  send({{"eventType", "shareImageToSystem"}, {"base64", platform::encodeBase64(kPng)}, {"text", ""}});
  ShareMenuActions actions = menu_.shown.back();
  actions.copyImage();
  ASSERT_EQ(clipboard_.written.size(), 1u);
  EXPECT_EQ(clipboard_.written[0].text, std::nullopt);  // an empty text shares only the image
  actions.openWith();
  ASSERT_EQ(menu_.chosenFor.size(), 1u);
  EXPECT_EQ(TempDir::readFile(menu_.chosenFor[0]), kPng);
  actions.saveAs();
  ASSERT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.shown[0].save.suggestedName, "Orvik-card.png");

  // Without a window there is no menu, and nothing stays staged.
  menu_.hasWindow = false;
  const std::size_t before = std::distance(fs::directory_iterator(staging_), fs::directory_iterator());
  send({{"eventType", "shareImageToSystem"}, {"base64", platform::encodeBase64(kPng)}});
  EXPECT_EQ(std::size_t(std::distance(fs::directory_iterator(staging_), fs::directory_iterator())), before);
}

// The script the page gets for slice `index` of `text`.
std::string chunkScript(const std::string& id, int index, const std::string& text) {
  return platform::pageFunctionCall("__orvikVidChunk", {id, index, text});
}
std::string doneScript(const std::string& id, int count, const std::string& mime) {
  return platform::pageFunctionCall("__orvikVidDone", {id, count, mime});
}

TEST_F(FileOpenMessagesTest, ReadsVideosBackInSlicesOfSevenHundredThousandCharacters) {
  struct Case {
    const char* label;
    std::size_t size;
    std::vector<std::size_t> sliceLengths;
  };
  const std::vector<Case> cases = {
      {"two whole slices", 1'050'000, {700'000, 700'000}},
      {"one byte more: a third slice of four characters", 1'050'001, {700'000, 700'000, 4}},
      {"a small file", 10, {16}},
      {"an empty file", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    page_->scripts.clear();
    const std::string bytes = patternBytes(c.size);
    const fs::path clip = document("clip.MOV", bytes);
    send({{"eventType", "readVideoForPlayback"}, {"transferId", "t1"}, {"path", "orvikfile://" + clip.string()}});
    ASSERT_EQ(page_->scripts.size(), c.sliceLengths.size() + 1);
    const std::string whole = platform::encodeBase64(bytes);
    std::size_t at = 0;
    for (std::size_t i = 0; i < c.sliceLengths.size(); ++i) {
      EXPECT_EQ(page_->scripts[i], chunkScript("t1", static_cast<int>(i), whole.substr(at, c.sliceLengths[i])));
      at += c.sliceLengths[i];
    }
    EXPECT_EQ(at, whole.size());
    EXPECT_EQ(page_->scripts.back(),
              doneScript("t1", static_cast<int>(c.sliceLengths.size()), "video/quicktime"));
  }
}

// A page that has not yet run what it was given: completions wait for the test.
class SlowPage final : public platform::PageScriptSink {
 public:
  void evaluateScript(const std::string& script) override { scripts.push_back(script); }
  void evaluateScript(const std::string& script, platform::PageScriptCompletion completion) override {
    scripts.push_back(script);
    waiting.push_back(std::move(completion));
  }
  void finishOne() {
    auto completion = std::move(waiting.front());
    waiting.erase(waiting.begin());
    if (completion) completion({});
  }
  std::vector<std::string> scripts;
  std::vector<platform::PageScriptCompletion> waiting;
};

TEST_F(FileOpenMessagesTest, ReadsTheNextSliceOnlyOnceThePageHasRunTheLast) {
  const fs::path clip = document("clip.mp4", patternBytes(3 * VideoReadback::kSliceBytes));
  auto slow = std::make_shared<SlowPage>();
  FileOpenMessages messages({slow, helper_, clipboard_, opener_, policy_, queue_});
  messages.readVideoForPlayback({{"transferId", "t"}, {"path", clip.string()}});
  for (std::size_t sent = 1; sent <= 3; ++sent) {
    queue_.runUntilIdle();
    ASSERT_EQ(slow->scripts.size(), sent);
    ASSERT_EQ(slow->waiting.size(), 1u);
    slow->finishOne();
  }
  queue_.runUntilIdle();
  EXPECT_EQ(slow->scripts.back(), doneScript("t", 3, "video/mp4"));

  // A page that goes away ends the stream.
  messages.readVideoForPlayback({{"transferId", "u"}, {"path", clip.string()}});
  queue_.runUntilIdle();
  slow.reset();
  queue_.runUntilIdle();
}

TEST_F(FileOpenMessagesTest, ReadBackOfAMissingOrForeignFileSendsOnlyTheMissingReply) {
  const fs::path foreign = home_.path() / "Videos/private.mp4";
  TempDir::writeFile(foreign, "private");
  for (const std::string& path : {(docs_ / "gone.mp4").string(), foreign.string(), docs_.string()}) {
    SCOPED_TRACE(path);
    page_->scripts.clear();
    send({{"eventType", "readVideoForPlayback"}, {"transferId", "t9"}, {"path", path}});
    EXPECT_THAT(page_->scripts, ElementsAre(doneScript("t9", 0, "")));
  }
  page_->scripts.clear();
  send({{"eventType", "readVideoForPlayback"}, {"path", foreign.string()}});
  EXPECT_TRUE(page_->scripts.empty());
}

}  // namespace
}  // namespace orvik
