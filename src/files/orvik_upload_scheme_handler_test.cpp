// The orvikupload:// handler on our own request values: the router, the
// reply builders and jsonPair as tables, plain uploads through the real
// transfer managers into a temporary documents folder, and the order in which
// requests act when their bodies arrive out of order.
#include "files/orvik_upload_scheme_handler.h"

#include <gtest/gtest.h>

#include <map>

#include <nlohmann/json.hpp>

#include "files/documents_folder.h"
#include "files/files_test_support.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using orvik::testing::TempDir;
using orvik::testing::TestHome;

constexpr const char* kExpectedForm = "{\"error\":\"invalid url \xE2\x80\x94 expected orvikupload://action/transferId\"}";
constexpr const char* kTrustedOrigin = "https://app.example";

TEST(UploadURLParsing, TheHostIsTheActionAndTheFirstComponentTheIdDecodedAfterSplitting) {
  struct Case {
    const char* url;
    const char* action;
    std::optional<std::string> id;
  };
  const Case cases[] = {
      {"orvikupload://start/abc", "start", "abc"},
      {"orvikupload://start/abc/def", "start", "abc"},
      {"orvikupload://chunk/a%2Fb/c", "chunk", "a/b"},
      {"orvikupload://end//x", "end", "x"},
      {"orvikupload://st%61rt/x?q=1#frag", "start", "x"},
      {"orvikupload://start/%zz", "start", "%zz"},
      {"orvikupload://start/a%22b%5Cc", "start", "a\"b\\c"},
      {"orvikupload://start/%E2%9C%93", "start", "\xE2\x9C\x93"},
      {"orvikupload://start", "start", std::nullopt},
      {"orvikupload://start/", "start", std::nullopt},
      {"orvikupload://start?x=/y", "start", std::nullopt},
      {"orvikupload:///abc", "", "abc"},
      {"orvikupload:abc", "", "abc"},
  };
  for (const Case& c : cases) {
    const UploadRoute route = parseUploadURL(c.url);
    EXPECT_EQ(route.action, c.action) << c.url;
    EXPECT_EQ(route.id, c.id) << c.url;
  }
}

TEST(UploadJson, PairsAreValidJsonForEveryControlCharacterAndStrayByte) {
  EXPECT_EQ(jsonPair("a", "b"), R"("a": "b")");
  EXPECT_EQ(jsonPair("k", "q\"b\\\n\r\t"), R"("k": "q\"b\\\n\r\t")");
  EXPECT_EQ(jsonPair("k", "\x01"), R"("k": "\u0001")");
  EXPECT_EQ(jsonErrorBody("disk \"full\""), R"({"error":"disk \"full\""})");
  for (int c = 0; c < 0x20; ++c) {
    const std::string value = std::string("a") + static_cast<char>(c) + "b";
    const json parsed = json::parse("{" + jsonPair("v", value) + "}", nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << "control character " << c;
    EXPECT_EQ(parsed["v"], value) << c;
  }
  const json stray = json::parse("{" + jsonPair("v", "a\xFF" "b") + "}", nullptr, false);
  ASSERT_FALSE(stray.is_discarded());
  EXPECT_EQ(stray["v"], "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(json::parse("{" + jsonPair("v", std::string("\0x", 2)) + "}")["v"], std::string("\0x", 2));
}

TEST(UploadHeaders, DecimalSizesConvertWholeOrNotAtAll) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"12", 12},   {"+5", 5},         {"-3", -3},          {"0", 0},
      {"12ab", {}}, {"", {}},          {"+", {}},           {"++1", {}},
      {" 5", {}},   {"5 ", {}},        {"1.5", {}},         {"99999999999999999999", {}},
      {"9223372036854775807", INT64_MAX},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parseDecimalHeader(text), value) << text;
}

TEST(UploadReplies, JsonAndRawRepliesCarryTheCorsHeaders) {
  const UploadResponse ok = OrvikUploadSchemeHandler::jsonResponse(200, R"({"status":"ok"})");
  EXPECT_EQ(ok.headers, (UploadHeaders{
                            {"Content-Type", "application/json"},
                            {"Content-Length", "15"},
                            {"Access-Control-Allow-Origin", "*"},
                            {"Access-Control-Allow-Methods", "POST, OPTIONS"},
                            {"Access-Control-Allow-Headers",
                             "Content-Type, X-File-Name, X-Mime-Type, X-Total-Size, X-Max-Video-Bitrate, X-Reduce"},
                        }));
  const UploadResponse empty = OrvikUploadSchemeHandler::jsonResponse(204, "");
  EXPECT_EQ(empty.header("content-type"), "text/plain");
  EXPECT_EQ(empty.header("Content-Length"), "0");
  const UploadResponse data = OrvikUploadSchemeHandler::dataResponse(500, std::string(3, '\0'), "video/mp4");
  EXPECT_EQ(data.header("Content-Type"), "video/mp4");
  EXPECT_EQ(data.header("Content-Length"), "3");
  EXPECT_EQ(data.header("Access-Control-Allow-Origin"), "*");
}

// A body the test delivers when it chooses.
struct HeldBody {
  std::function<void(UploadBody)> done;
  void deliver(std::string bytes) { done(UploadBody{std::move(bytes), true, {}}); }
};

class UploadSchemeHandlerTest : public ::testing::Test {
 protected:
  using TaskId = OrvikUploadSchemeHandler::TaskId;

  UploadSchemeHandlerTest() {
    handler_ = std::make_shared<OrvikUploadSchemeHandler>(OrvikUploadSchemeHandler::Collaborators{
        documents_, images_, videos_, background_,
        [](std::string_view origin) { return origin == kTrustedOrigin; }, nullptr,
        [this](const fs::path& file, std::string_view name) { return thumbnail("image", file, name); },
        [this](const fs::path& file, std::string_view name) { return thumbnail("video", file, name); }});
  }

  std::optional<fs::path> thumbnail(const std::string& kind, const fs::path& file, std::string_view name) {
    thumbnailCalls_.push_back(kind + ":" + file.filename().string() + ":" + std::string(name));
    if (file.extension() == ".txt") return std::nullopt;
    return docs_ / ("thumb_" + std::string(name) + ".jpg");
  }

  TaskId send(const std::string& url, UploadHeaders headers = {}, std::optional<std::string> body = std::nullopt,
              std::string method = "POST") {
    UploadRequest request{std::move(method), url, std::move(headers)};
    OrvikUploadSchemeHandler::BodyReader reader;
    if (body) reader = [bytes = *body](auto done) { done(UploadBody{bytes, true, {}}); };
    const TaskId task = handler_->startTask(std::move(request), std::move(reader), recorder());
    return task;
  }

  // A chunk whose body arrives only when the test says.
  TaskId sendHeld(const std::string& url, HeldBody& held) {
    return handler_->startTask(UploadRequest{"POST", url, {}}, [&held](auto done) { held.done = std::move(done); },
                               recorder());
  }

  OrvikUploadSchemeHandler::ReplySink recorder() {
    const TaskId next = nextExpected_++;
    return [this, next](UploadResponse response) {
      order_.push_back(next);
      replies_[next] = std::move(response);
    };
  }

  void settle() {
    for (int i = 0; i < 10; ++i) {
      background_.runUntilIdle();
      main_.runUntilIdle();
    }
  }

  const UploadResponse& reply(TaskId task) {
    settle();
    EXPECT_TRUE(replies_.contains(task)) << "no reply to task " << task;
    return replies_[task];
  }
  std::pair<int, std::string> answer(TaskId task) {
    const UploadResponse& r = reply(task);
    return {r.status, r.body};
  }

  // start + chunks + end, answered with the end's JSON.
  json upload(const std::string& id, const std::optional<std::string>& name, const std::vector<std::string>& chunks,
              UploadHeaders extra = {}) {
    if (name) extra.emplace_back("X-File-Name", *name);
    EXPECT_EQ(answer(send("orvikupload://start/" + id, extra)).first, 200);
    for (const std::string& chunk : chunks) EXPECT_EQ(answer(send("orvikupload://chunk/" + id, {}, chunk)).first, 200);
    const UploadResponse& end = reply(send("orvikupload://end/" + id));
    EXPECT_EQ(end.status, 200) << end.body;
    return json::parse(end.body, nullptr, false);
  }

  TestHome home_;
  fs::path docs_ = documentsDirectory();
  platform::VirtualQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  platform::VirtualQueue background_;
  DocTransferManager documents_{documentsDirectory};
  ImgTransferManager images_{documentsDirectory};
  VideoTransferManager videos_{documentsDirectory};
  std::shared_ptr<OrvikUploadSchemeHandler> handler_;
  std::vector<std::string> thumbnailCalls_;
  std::map<TaskId, UploadResponse> replies_;
  std::vector<TaskId> order_;
  TaskId nextExpected_ = 1;
};

TEST_F(UploadSchemeHandlerTest, TheRouterAnswersMalformedRequestsBeforeAnyAction) {
  struct Case {
    std::string method;
    std::optional<std::string> url;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"OPTIONS", "orvikupload://x", 204, ""},
      {"options", "orvikupload://start/abc", 204, ""},
      {"POST", std::nullopt, 400, R"({"error":"invalid url"})"},
      {"POST", "orvikupload://start", 400, kExpectedForm},
      {"POST", "orvikupload:///abc", 400, kExpectedForm},
      {"POST", "orvikupload://upload/abc", 400, R"({"error":"unknown action"})"},
      {"POST", "orvikupload://START/abc", 400, R"({"error":"unknown action"})"},
      {"POST", "orvikupload://transcodeprogress/abc", 404, R"({"error":"no transcode job"})"},
  };
  for (const Case& c : cases) {
    const TaskId task = handler_->startTask(UploadRequest{c.method, c.url, {}}, nullptr, recorder());
    const UploadResponse& r = reply(task);
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.url.value_or("(none)");
    EXPECT_EQ(r.body, c.body) << c.url.value_or("(none)");
    EXPECT_EQ(r.header("Access-Control-Allow-Origin"), "*");
  }
  EXPECT_EQ(handler_->activeTaskCount(), 0u);
}

TEST_F(UploadSchemeHandlerTest, OnlyTheTrustedOriginMayUpload) {
  EXPECT_EQ(answer(send("orvikupload://start/a1", {{"Origin", "https://evil.example"}})),
            std::make_pair(403, std::string(R"({"error":"origin not allowed"})")));
  EXPECT_EQ(answer(send("orvikupload://chunk/a1", {}, "x")).first, 404);
  EXPECT_EQ(answer(send("orvikupload://start/a1", {{"Origin", kTrustedOrigin}, {"X-File-Name", "a.txt"}})).first, 200);
}

TEST_F(UploadSchemeHandlerTest, APlainUploadSavesTheFileAndAnswersWithItsFourMembers) {
  const std::string a = orvik::testing::patternBytes(70000), b = "tail";
  const json end = upload("doc1", "report.pdf", {a, b});
  ASSERT_TRUE(end.is_object());
  EXPECT_EQ(end.size(), 4u);
  EXPECT_EQ(end["transferId"], "doc1");
  EXPECT_EQ(end["path"], (docs_ / "report.pdf").string());
  EXPECT_EQ(end["localUrl"], "orvikfile://" + (docs_ / "report.pdf").string());
  EXPECT_EQ(end["thumbUrl"], "orvikfile://" + (docs_ / "thumb_doc1.jpg").string());
  EXPECT_EQ(TempDir::readFile(docs_ / "report.pdf"), a + b);
  // Documents go to the image thumbnailer too.
  EXPECT_EQ(thumbnailCalls_, (std::vector<std::string>{"image:report.pdf:doc1"}));
}

TEST_F(UploadSchemeHandlerTest, TheEndReplyHasItsFixedLayout) {
  const TaskId start = send("orvikupload://start/n1", {{"X-File-Name", "notes.txt"}});
  EXPECT_EQ(answer(start).first, 200);
  EXPECT_EQ(answer(send("orvikupload://chunk/n1", {}, "hello")).first, 200);
  const std::string path = (docs_ / "notes.txt").string();
  EXPECT_EQ(reply(send("orvikupload://end/n1")).body, "{\n  \"transferId\": \"n1\",\n  \"path\": \"" + path +
                                                          "\",\n  \"localUrl\": \"orvikfile://" + path +
                                                          "\",\n  \"thumbUrl\": \"\"\n}");
}

TEST_F(UploadSchemeHandlerTest, TheExtensionChoosesTheManager) {
  struct Case {
    std::string id;
    std::optional<std::string> name;
    UploadHeaders headers;
    std::string savedAs;
    std::string thumbnailer;
  };
  const Case cases[] = {
      {"i1", "Photo.JPG", {}, "Photo.JPG", "image"},
      {"v1", "Clip.MOV", {{"X-Mime-Type", "video/quicktime"}}, "v1.mov", "video"},
      {"v2", "clip.webm", {}, "v2.mp4", "video"},  // no MIME type: the video manager's default
      {"d1", "README", {}, "README", "image"},
      {"d2", std::nullopt, {}, "d2.bin", "image"},
  };
  for (const Case& c : cases) {
    thumbnailCalls_.clear();
    const json end = upload(c.id, c.name, {"bytes"}, c.headers);
    EXPECT_EQ(end["path"], (docs_ / c.savedAs).string()) << c.id;
    ASSERT_EQ(thumbnailCalls_.size(), 1u) << c.id;
    EXPECT_EQ(thumbnailCalls_[0], c.thumbnailer + ":" + c.savedAs + ":" + c.id);
  }
}

TEST_F(UploadSchemeHandlerTest, RefusalsOfStartChunkAndEnd) {
  EXPECT_EQ(answer(send("orvikupload://start/p1", {{"X-File-Name", "Setup.PKG"}})),
            std::make_pair(403, std::string(R"({"error":"file type not allowed"})")));
  EXPECT_EQ(answer(send("orvikupload://start/p2", {{"X-File-Name", "../../run.sh"}})).first, 403);
  EXPECT_EQ(answer(send("orvikupload://chunk/p1", {}, "x")),
            std::make_pair(404, std::string(R"({"error":"no active transfer"})")));
  EXPECT_EQ(answer(send("orvikupload://chunk/nothing", {}, "")),
            std::make_pair(400, std::string(R"({"error":"empty chunk"})")));
  EXPECT_EQ(answer(send("orvikupload://end/p1")).first, 404);
  // The video manager takes only ids that can name a file.
  EXPECT_EQ(answer(send("orvikupload://start/a%20b", {{"X-File-Name", "x.mp4"}})),
            std::make_pair(500, std::string(R"({"error":"invalid transfer id"})")));
  upload("twice", "twice.txt", {"x"});
  EXPECT_EQ(answer(send("orvikupload://end/twice")).first, 404);
  EXPECT_TRUE(TempDir::listing(docs_) == (std::vector<std::string>{"twice.txt"}));
}

TEST_F(UploadSchemeHandlerTest, AnIdWithQuotesAndBackslashesComesBackEscaped) {
  const json end = upload("a%22b%5Cc", "q.txt", {"x"});
  ASSERT_TRUE(end.is_object());
  EXPECT_EQ(end["transferId"], "a\"b\\c");
  EXPECT_EQ(end["thumbUrl"], "");
}

TEST_F(UploadSchemeHandlerTest, RequestsActInArrivalOrderWhateverOrderTheirBodiesArriveIn) {
  EXPECT_EQ(answer(send("orvikupload://start/f1", {{"X-File-Name", "f.bin"}})).first, 200);
  HeldBody first, second;
  const TaskId c1 = sendHeld("orvikupload://chunk/f1", first);
  const TaskId c2 = sendHeld("orvikupload://chunk/f1", second);
  const TaskId progress = send("orvikupload://transcodeprogress/none");
  const TaskId end = send("orvikupload://end/f1");
  second.deliver("BBBB");
  settle();
  EXPECT_FALSE(replies_.contains(c1));
  EXPECT_FALSE(replies_.contains(c2));
  EXPECT_FALSE(replies_.contains(end));
  first.deliver("AAAA");
  EXPECT_EQ(reply(end).status, 200);
  EXPECT_EQ(order_, (std::vector<TaskId>{1, c1, c2, progress, end}));
  EXPECT_EQ(TempDir::readFile(docs_ / "f.bin"), "AAAABBBB");
}

TEST_F(UploadSchemeHandlerTest, ABodyCutShortIsRefusedAndTheTransferFails) {
  EXPECT_EQ(answer(send("orvikupload://start/s1", {{"X-File-Name", "s.bin"}})).first, 200);
  EXPECT_EQ(answer(send("orvikupload://chunk/s1", {}, "whole")).first, 200);
  HeldBody cut;
  const TaskId chunk = sendHeld("orvikupload://chunk/s1", cut);
  cut.done(UploadBody{"par", false, "connection lost"});
  const UploadResponse& refused = reply(chunk);
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body, R"({"error":"incomplete body: connection lost"})");
  // The end reports the failure instead of a file with a hole in it.
  EXPECT_EQ(answer(send("orvikupload://end/s1")),
            std::make_pair(500, std::string(R"({"error":"write failed"})")));
  EXPECT_FALSE(fs::exists(docs_ / "s.bin"));
}

TEST_F(UploadSchemeHandlerTest, AStoppedTaskGetsNoReplyButItsFileIsSaved) {
  EXPECT_EQ(answer(send("orvikupload://start/t1", {{"X-File-Name", "t.txt"}})).first, 200);
  EXPECT_EQ(answer(send("orvikupload://chunk/t1", {}, "kept")).first, 200);
  const TaskId end = send("orvikupload://end/t1");
  handler_->stopTask(end);
  settle();
  EXPECT_FALSE(replies_.contains(end));
  EXPECT_EQ(TempDir::readFile(docs_ / "t.txt"), "kept");
  EXPECT_EQ(handler_->activeTaskCount(), 0u);
}

TEST_F(UploadSchemeHandlerTest, AGetIsHandledLikeAPost) {
  EXPECT_EQ(answer(send("orvikupload://start/g1", {{"X-File-Name", "g.txt"}}, std::nullopt, "GET")).first, 200);
  EXPECT_EQ(answer(send("orvikupload://chunk/g1", {}, "x", "")).first, 200);
}

}  // namespace
}  // namespace orvik
