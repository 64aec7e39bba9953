#include "files/file_save_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "files/recording_save_panels.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/message_routes.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "platform/test_support/recording_message_routes.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::TempDir;

class FileSaveMessagesTest : public ::testing::Test {
 protected:
  FileSaveMessagesTest() {
    for (const auto& folder : {allowed_, staging_, outside_, chosen_}) fs::create_directories(folder);
    TempDir::writeFile(allowed_ / "clip.mp4", "video bytes");
    TempDir::writeFile(outside_ / "secret.txt", "not for the page");
  }

  // Handles the message and runs what it queued; the chooser stays open.
  void send(void (FileSaveMessages::*handler)(const json&), const json& payload) {
    (messages_.*handler)(payload);
    queue_.runUntilIdle();
  }
  std::vector<std::string> stagingFolders() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(staging_)) names.push_back(entry.path().filename().string());
    return names;
  }

  TempDir dir_;
  fs::path allowed_ = dir_ / "documents";
  fs::path staging_ = dir_ / "tmp";
  fs::path outside_ = dir_ / "outside";
  fs::path chosen_ = dir_ / "chosen";
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  RecordingSavePanels panels_;
  platform::RecordingSystemOpener opener_;
  OrvikHelper helper_{panels_, opener_, defaults_, queue_, [] { return std::optional<fs::path>(); }};
  FileAccessPolicy policy_{[this] { return std::vector<fs::path>{allowed_}; }};
  FileSaveMessages messages_{helper_, policy_, staging_};
};

TEST_F(FileSaveMessagesTest, WhichMessagesOpenASaveChooserAndUnderWhatName) {
  using Handler = void (FileSaveMessages::*)(const json&);
  struct Case {
    const char* label;
    Handler handler;
    json payload;
    std::optional<std::string> suggested;  // none: no chooser
  };
  const std::string clip = (allowed_ / "clip.mp4").string();
  const std::vector<Case> cases = {
      {"local file, own name", &FileSaveMessages::saveVideoToSystem, {{"localFilePath", clip}}, "clip.mp4"},
      {"local file, given name", &FileSaveMessages::saveDocumentToSystem,
       {{"localFilePath", clip}, {"fileName", "Holiday.mp4"}}, "Holiday.mp4"},
      {"local file outside the program's folders", &FileSaveMessages::saveDocumentToSystem,
       {{"localFilePath", (outside_ / "secret.txt").string()}}, std::nullopt},
      {"local path reaching out through ..", &FileSaveMessages::saveDocumentToSystem,
       {{"localFilePath", (allowed_ / "../outside/secret.txt").string()}}, std::nullopt},
      {"local folder", &FileSaveMessages::saveDocumentToSystem, {{"localFilePath", allowed_.string()}}, std::nullopt},
      {"missing local file wins over bytes", &FileSaveMessages::saveDocumentToSystem,
       {{"localFilePath", (allowed_ / "gone.pdf").string()},
        {"base64", "aGVsbG8="},
        {"mimeType", "application/pdf"},
        {"fileName", "a.pdf"}},
       std::nullopt},
      {"bytes", &FileSaveMessages::saveDocumentToSystem,
       {{"base64", "aGVsbG8="}, {"mimeType", "application/pdf"}, {"fileName", "a.pdf"}}, "a.pdf"},
      {"bytes under a name with folders", &FileSaveMessages::saveImageToSystem,
       {{"base64", "aGVsbG8="}, {"mimeType", "image/png"}, {"fileName", "../../x.png"}}, "x.png"},
      {"bytes without a MIME type", &FileSaveMessages::saveDocumentToSystem,
       {{"base64", "aGVsbG8="}, {"fileName", "a.pdf"}}, std::nullopt},
      {"bytes without a name", &FileSaveMessages::saveDocumentToSystem,
       {{"base64", "aGVsbG8="}, {"mimeType", "application/pdf"}}, std::nullopt},
      {"undecodable bytes", &FileSaveMessages::saveDocumentToSystem,
       {{"base64", "not base64!"}, {"mimeType", "application/pdf"}, {"fileName", "a.pdf"}}, std::nullopt},
      {"path of another type", &FileSaveMessages::saveVideoToSystem, {{"localFilePath", 7}}, std::nullopt},
      {"image with a batch id and no count", &FileSaveMessages::saveImageToSystem,
       {{"localFilePath", clip}, {"batchId", "b1"}}, "clip.mp4"},
      {"image with a count given as text", &FileSaveMessages::saveImageToSystem,
       {{"localFilePath", clip}, {"batchId", "b2"}, {"batchCount", "3"}}, "clip.mp4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::size_t before = panels_.shown.size();
    send(c.handler, c.payload);
    if (!c.suggested) {
      EXPECT_EQ(panels_.shown.size(), before);
      continue;
    }
    ASSERT_EQ(panels_.shown.size(), before + 1);
    EXPECT_EQ(panels_.shown.back().kind, RecordingSavePanels::Kind::save);
    EXPECT_EQ(panels_.shown.back().save.suggestedName, *c.suggested);
    panels_.answer(std::nullopt);
    queue_.runUntilIdle();
  }
  EXPECT_TRUE(stagingFolders().empty());
}

TEST_F(FileSaveMessagesTest, ImagesOfOneBatchShareOneFolderChooser) {
  const std::string clip = (allowed_ / "clip.mp4").string();
  send(&FileSaveMessages::saveImageToSystem,
       {{"localFilePath", clip}, {"fileName", "a.jpg"}, {"batchId", "b"}, {"batchCount", 2}});
  EXPECT_TRUE(panels_.shown.empty());
  send(&FileSaveMessages::saveImageToSystem,
       {{"base64", "aGVsbG8="},
        {"mimeType", "image/jpeg"},
        {"fileName", "b.jpg"},
        {"batchId", "b"},
        {"batchCount", 2.0}});
  ASSERT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.shown[0].kind, RecordingSavePanels::Kind::folder);

  panels_.answer(chosen_);
  queue_.runUntilIdle();
  EXPECT_EQ(TempDir::readFile(chosen_ / "a.jpg"), "video bytes");
  EXPECT_EQ(TempDir::readFile(chosen_ / "b.jpg"), "hello");
  EXPECT_TRUE(stagingFolders().empty());
}

TEST_F(FileSaveMessagesTest, SentBytesAreStagedPrivatelyUntilTheSaveIsOver) {
  send(&FileSaveMessages::saveDocumentToSystem,
       {{"base64", "aGVsbG8="}, {"mimeType", "application/pdf"}, {"fileName", "a.pdf"}});
  const auto staged = stagingFolders();
  ASSERT_EQ(staged.size(), 1u);
  EXPECT_EQ(fs::status(staging_ / staged[0]).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(TempDir::readFile(staging_ / staged[0] / "a.pdf"), "hello");

  panels_.answer(chosen_ / "a.pdf");
  queue_.runUntilIdle();
  EXPECT_EQ(TempDir::readFile(chosen_ / "a.pdf"), "hello");
  EXPECT_TRUE(stagingFolders().empty());
}

TEST_F(FileSaveMessagesTest, BytesDroppedBecauseAChooserIsOpenLeaveNothingBehind) {
  send(&FileSaveMessages::saveVideoToSystem, {{"localFilePath", (allowed_ / "clip.mp4").string()}});
  send(&FileSaveMessages::saveDocumentToSystem,
       {{"base64", "aGVsbG8="}, {"mimeType", "application/pdf"}, {"fileName", "a.pdf"}});
  EXPECT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.raised, 1);
  EXPECT_TRUE(stagingFolders().empty());
}

using Routes = testing::RecordingMessageRoutes;

TEST_F(FileSaveMessagesTest, EachRoutedNameReachesItsOwnHandler) {
  Routes routes;
  messages_.publishRoutes(routes);
  ASSERT_EQ(routes.handlers.size(), 3u);
  const std::string clip = (allowed_ / "clip.mp4").string();
  // Only the image handler batches: a batch of two waits for its second file.
  const json batched = {{"eventType", "x"}, {"localFilePath", clip}, {"batchId", "b"}, {"batchCount", 2}};
  for (const char* name : {"saveVideoToSystem", "saveDocumentToSystem", "saveImageToSystem"}) {
    SCOPED_TRACE(name);
    const std::size_t before = panels_.shown.size();
    routes.handlers.at(name)(batched);
    queue_.runUntilIdle();
    const bool image = std::string_view(name) == "saveImageToSystem";
    EXPECT_EQ(panels_.shown.size(), image ? before : before + 1);
    if (!image) panels_.answer(std::nullopt);
  }
}

}  // namespace
}  // namespace orvik
