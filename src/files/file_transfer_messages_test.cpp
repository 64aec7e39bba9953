#include "files/file_transfer_messages.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "files/documents_folder.h"
#include "files/files_test_support.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/dispatch/worker_pool.h"
#include "platform/recording_page_script_sink.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::TestHome;
using orvik::testing::TempDir;

std::string base64(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int k = 3; k >= 0; --k) out += alphabet[(v >> (6 * k)) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += std::string{alphabet[(v >> 18) & 63], alphabet[(v >> 12) & 63]} + "==";
  } else if (bytes.size() - i == 2) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += std::string{alphabet[(v >> 18) & 63], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63]} + "=";
  }
  return out;
}

// The page call's one argument, read back as JSON.
struct PageCall {
  std::string function;
  json argument;
};

PageCall parseCall(const std::string& script) {
  const std::string guard = "if (typeof window.";
  EXPECT_EQ(script.rfind(guard, 0), 0u) << script;
  const std::size_t nameEnd = script.find(' ', guard.size());
  const std::string function = script.substr(guard.size(), nameEnd - guard.size());
  const std::string call = "window." + function + "(";
  const std::size_t open = script.rfind(call) + call.size();
  const std::size_t close = script.rfind(");");
  return {function, json::parse(script.substr(open, close - open))};
}

class FileTransferMessagesTest : public ::testing::Test {
 protected:
  FileTransferMessagesTest() : scoped_(main_) {}

  FileTransferMessages makeMessages(FileTransferMessages::Thumbnailers thumbnailers) {
    return FileTransferMessages(page_, docs_, images_, videos_, main_, policy_, std::move(thumbnailers));
  }

  std::vector<PageCall> calls() {
    main_.runUntilIdle();
    std::vector<PageCall> parsed;
    for (const auto& script : page_->scripts) parsed.push_back(parseCall(script));
    page_->scripts.clear();
    return parsed;
  }

  void send(FileTransferMessages& messages, const std::string& kind, const std::string& id,
            const std::vector<std::string>& chunks, json start) {
    start["transferId"] = id;
    ASSERT_TRUE(messages.handle(kind + "TransferStart", start));
    for (const auto& bytes : chunks) {
      ASSERT_TRUE(messages.handle(kind + "TransferChunk", {{"transferId", id}, {"chunk", base64(bytes)}}));
    }
    ASSERT_TRUE(messages.handle(kind + "TransferEnd", {{"transferId", id}}));
  }

  TestHome home_;
  platform::VirtualQueue main_;
  platform::ScopedMainQueue scoped_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  DocTransferManager docs_{documentsDirectory};
  ImgTransferManager images_{documentsDirectory};
  VideoTransferManager videos_{documentsDirectory};
  FileAccessPolicy policy_{FileAccessPolicy::programRoots};
  std::vector<std::string> thumbnailed_;  // "image:<name>" / "video:<name>"

  FileTransferMessages::ThumbnailMaker recordingMaker(std::string kind, bool succeed) {
    return [this, kind, succeed](const fs::path&, std::string_view name) -> std::optional<fs::path> {
      thumbnailed_.push_back(kind + ":" + std::string(name));
      if (!succeed) return std::nullopt;
      const fs::path thumb = documentsDirectory() / ("thumb_" + std::string(name) + ".jpg");
      TempDir::writeFile(thumb, "jpeg");
      return thumb;
    };
  }
};

TEST_F(FileTransferMessagesTest, DocumentTransferRepliesWithExactlyThreeKeys) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  send(messages, "doc", "d1", {"hello ", "world"},
       {{"fileName", "../notes.txt"}, {"mimeType", "text/plain"}, {"totalSize", 11}});
  const auto replies = calls();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].function, "onNativeFileSaved");
  const json& saved = replies[0].argument;
  const std::string path = (documentsDirectory() / "notes.txt").string();
  EXPECT_EQ(saved, (json{{"transferId", "d1"}, {"path", path}, {"localUrl", "orvikfile://" + path}}));
  EXPECT_EQ(TempDir::readFile(path), "hello world");
  EXPECT_TRUE(thumbnailed_.empty());
}

TEST_F(FileTransferMessagesTest, IdsWithDotsColonsAndEqualsStillGetTheirReply) {
  auto messages = makeMessages({recordingMaker("image", false), recordingMaker("video", false)});
  const std::string id = "msg:42.part=1";
  send(messages, "doc", id, {"text"}, {{"fileName", "notes.txt"}, {"mimeType", "text/plain"}, {"totalSize", 4}});
  send(messages, "img", id, {"png"}, {{"fileName", "cat.png"}, {"totalSize", 3}});
  const auto replies = calls();
  ASSERT_EQ(replies.size(), 2u);
  const std::string notes = (documentsDirectory() / "notes.txt").string();
  const std::string cat = (documentsDirectory() / "cat.png").string();
  EXPECT_EQ(replies[0].argument, (json{{"transferId", id}, {"path", notes}, {"localUrl", "orvikfile://" + notes}}));
  EXPECT_EQ(replies[1].argument,
            (json{{"transferId", id}, {"path", cat}, {"localUrl", "orvikfile://" + cat}, {"thumbUrl", ""}}));
  EXPECT_EQ(TempDir::readFile(notes), "text");
}

TEST_F(FileTransferMessagesTest, ImageAndVideoEndsMakeTheirThumbnailThenReply) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", false)});
  send(messages, "img", "i1", {"png bytes"}, {{"totalSize", 9}});
  send(messages, "video", "v1", {"webm"}, {{"totalSize", 4}, {"mimeType", "video/webm"}});
  const auto replies = calls();
  ASSERT_EQ(replies.size(), 2u);
  const std::string image = (documentsDirectory() / "i1.jpg").string();
  const std::string thumb = (documentsDirectory() / "thumb_i1.jpg").string();
  EXPECT_EQ(replies[0].argument, (json{{"transferId", "i1"},
                                       {"path", image},
                                       {"localUrl", "orvikfile://" + image},
                                       {"thumbUrl", "orvikfile://" + thumb}}));
  // A thumbnail that cannot be made still gets the reply, with "".
  const std::string video = (documentsDirectory() / "v1.webm").string();
  EXPECT_EQ(replies[1].argument, (json{{"transferId", "v1"},
                                       {"path", video},
                                       {"localUrl", "orvikfile://" + video},
                                       {"thumbUrl", ""}}));
  EXPECT_EQ(thumbnailed_, (std::vector<std::string>{"image:i1", "video:v1"}));
}

TEST_F(FileTransferMessagesTest, AStuckVideoThumbnailHoldsBackNoOtherReply) {
  platform::WorkerPool pool("com.orvik.thumbnails", 3);
  // Declared after the pool, so the stuck task is let go before the pool joins.
  struct Release {
    std::promise<void> promise;
    std::shared_future<void> released = promise.get_future().share();
    bool done = false;
    void now() {
      if (!std::exchange(done, true)) promise.set_value();
    }
    ~Release() { now(); }
  } release;
  FileTransferMessages::ThumbnailMaker stuckVideo = [released = release.released](const fs::path&, std::string_view) {
    released.wait();
    return std::optional<fs::path>();
  };
  FileTransferMessages messages(page_, docs_, images_, videos_, pool, policy_, {recordingMaker("image", false), stuckVideo});
  send(messages, "video", "v1", {"webm"}, {{"totalSize", 4}, {"mimeType", "video/webm"}});
  send(messages, "img", "i1", {"png"}, {{"totalSize", 3}});

  std::vector<PageCall> replies;
  const auto waitForReplies = [&](std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (replies.size() < count && std::chrono::steady_clock::now() < deadline) {
      for (auto& call : calls()) replies.push_back(std::move(call));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return replies.size() >= count;
  };
  ASSERT_TRUE(waitForReplies(1));
  EXPECT_EQ(replies[0].argument["transferId"], "i1");
  release.now();
  ASSERT_TRUE(waitForReplies(2));
  EXPECT_EQ(replies[1].argument["transferId"], "v1");
}

TEST_F(FileTransferMessagesTest, StartsWithMissingOrMistypedValuesOpenNothing) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  const std::vector<std::pair<std::string, json>> starts = {
      {"docTransferStart", {{"transferId", "a"}, {"fileName", "x.pdf"}, {"totalSize", 1}}},
      {"docTransferStart", {{"transferId", "a"}, {"fileName", "x.pdf"}, {"mimeType", "m"}, {"totalSize", "1"}}},
      {"docTransferStart", {{"transferId", 7}, {"fileName", "x.pdf"}, {"mimeType", "m"}, {"totalSize", 1}}},
      {"imgTransferStart", {{"transferId", "a"}}},
      {"imgTransferStart", {{"transferId", "a"}, {"totalSize", 1.5}}},
      {"videoTransferStart", {{"totalSize", 1}}},
      {"videoTransferStart", json::array({"a", 1})},
      // The id would become the video's file name.
      {"videoTransferStart", {{"transferId", "../a"}, {"totalSize", 1}}},
  };
  for (const auto& [name, payload] : starts) EXPECT_TRUE(messages.handle(name, payload));
  for (const char* end : {"docTransferEnd", "imgTransferEnd", "videoTransferEnd"}) {
    messages.handle(end, {{"transferId", "a"}});
    messages.handle(end, json::object());
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(fs::is_empty(documentsDirectory()));
  EXPECT_FALSE(messages.handle("openImageModal", json::object()));
}

TEST_F(FileTransferMessagesTest, VideoWithoutMimeTypeIsMp4AndImageWithoutNameIsIdJpg) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  send(messages, "video", "v2", {}, {{"totalSize", 0}});
  send(messages, "img", "i2", {"x"}, {{"totalSize", 1}, {"fileName", 5}});
  const auto replies = calls();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(fs::path(replies[0].argument["path"].get<std::string>()).filename(), "v2.mp4");
  EXPECT_EQ(fs::path(replies[1].argument["path"].get<std::string>()).filename(), "i2.jpg");
}

TEST_F(FileTransferMessagesTest, ABadChunkFailsTheTransferInsteadOfLeavingAHole) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  for (const json& bad : {json{{"transferId", "d"}, {"chunk", "not base64!"}}, json{{"transferId", "d"}},
                          json{{"transferId", "d"}, {"chunk", 12}}}) {
    messages.handle("docTransferStart", {{"transferId", "d"}, {"fileName", "f.bin"}, {"mimeType", "m"}, {"totalSize", 6}});
    messages.handle("docTransferChunk", {{"transferId", "d"}, {"chunk", base64("abc")}});
    messages.handle("docTransferChunk", bad);
    messages.handle("docTransferChunk", {{"transferId", "d"}, {"chunk", base64("def")}});
    messages.handle("docTransferEnd", {{"transferId", "d"}});
    EXPECT_TRUE(calls().empty()) << bad.dump();
    EXPECT_FALSE(fs::exists(documentsDirectory() / "f.bin")) << bad.dump();
  }
  // Chunks before any start, or after the end, change nothing.
  messages.handle("imgTransferChunk", {{"transferId", "late"}, {"chunk", base64("x")}});
  send(messages, "img", "late", {"1"}, {{"totalSize", 1}});
  messages.handle("imgTransferChunk", {{"transferId", "late"}, {"chunk", base64("2")}});
  EXPECT_EQ(calls().size(), 1u);
  EXPECT_EQ(TempDir::readFile(documentsDirectory() / "late.jpg"), "1");
}

TEST_F(FileTransferMessagesTest, GetThumbnailMakesOnceAndThenAnswersFromTheFile) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  const fs::path docs = documentsDirectory();
  TempDir::writeFile(docs / "clip.MOV", "m");
  TempDir::writeFile(docs / "photo.heic", "h");

  messages.handle("getThumbnail", {{"transferId", "t1"}, {"localUrl", "orvikfile://" + (docs / "clip.MOV").string()}});
  messages.handle("getThumbnail", {{"transferId", "t2"}, {"localUrl", (docs / "photo.heic").string()}});
  auto replies = calls();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].function, "onThumbnailReady");
  EXPECT_EQ(replies[0].argument,
            (json{{"transferId", "t1"}, {"thumbUrl", "orvikfile://" + (docs / "thumb_t1.jpg").string()}}));
  EXPECT_EQ(replies[1].argument["transferId"], "t2");
  EXPECT_EQ(thumbnailed_, (std::vector<std::string>{"video:t1", "image:t2"}));

  // Again, with the source gone: answered at once from the stored file.
  fs::remove(docs / "clip.MOV");
  messages.handle("getThumbnail", {{"transferId", "t1"}, {"localUrl", "orvikfile://" + (docs / "clip.MOV").string()}});
  EXPECT_EQ(page_->scripts.size(), 0u);  // not yet: replies go through the main queue
  replies = calls();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].argument["thumbUrl"], "orvikfile://" + (docs / "thumb_t1.jpg").string());
  EXPECT_EQ(thumbnailed_.size(), 2u);
}

TEST_F(FileTransferMessagesTest, GetThumbnailRefusesUnsafeIdsAndSourcesOutsideTheAllowedPlaces) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  TempDir::writeFile(home_.path() / "Pictures/private.jpg", "p");
  TempDir::writeFile(documentsDirectory() / "ok.jpg", "o");
  const std::vector<json> requests = {
      {{"transferId", "p1"}, {"localUrl", (home_.path() / "Pictures/private.jpg").string()}},
      {{"transferId", "p2"}, {"localUrl", (documentsDirectory() / "../../../../../Pictures/private.jpg").string()}},
      {{"transferId", "../../x"}, {"localUrl", (documentsDirectory() / "ok.jpg").string()}},
      {{"transferId", "p3"}, {"localUrl", (documentsDirectory() / "missing.jpg").string()}},
      {{"transferId", "p4"}},
  };
  for (const auto& request : requests) messages.handle("getThumbnail", request);
  EXPECT_TRUE(calls().empty());
  EXPECT_TRUE(thumbnailed_.empty());
}

TEST_F(FileTransferMessagesTest, PathsReachThePageAsJsonNeverAsScriptText) {
  auto messages = makeMessages({recordingMaker("image", true), recordingMaker("video", true)});
  const std::string name = "it's \"quoted\" <b>\u2028.txt";
  send(messages, "doc", "q1", {"x"}, {{"fileName", name}, {"mimeType", "text/plain"}, {"totalSize", 1}});
  main_.runUntilIdle();
  ASSERT_EQ(page_->scripts.size(), 1u);
  EXPECT_EQ(page_->scripts[0].find("\u2028"), std::string::npos);
  const auto replies = calls();
  EXPECT_EQ(fs::path(replies[0].argument["path"].get<std::string>()).filename(), name);
}

TEST_F(FileTransferMessagesTest, RealThumbnailOfATransferredImage) {
  auto messages = makeMessages(FileTransferMessages::realThumbnailers());
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 1000, 500);
  gdk_pixbuf_fill(pixbuf, 0x20A040FF);
  gchar* png = nullptr;
  gsize size = 0;
  ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &png, &size, "png", nullptr, nullptr));
  g_object_unref(pixbuf);
  const std::string bytes(png, size);
  g_free(png);
  send(messages, "img", "real1", {bytes.substr(0, 100), bytes.substr(100)}, {{"totalSize", size}, {"fileName", "a.png"}});
  const auto replies = calls();
  ASSERT_EQ(replies.size(), 1u);
  const std::string thumbUrl = replies[0].argument["thumbUrl"];
  const fs::path thumb = documentsDirectory() / "thumb_real1.jpg";
  EXPECT_EQ(thumbUrl, "orvikfile://" + thumb.string());
  int width = 0, height = 0;
  ASSERT_TRUE(gdk_pixbuf_get_file_info(thumb.c_str(), &width, &height));
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 400);
}

}  // namespace
}  // namespace orvik
