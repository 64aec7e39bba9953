// Transcoding uploads with a stand-in transcoder that the test finishes when
// it chooses: the job's state machine, its refusals, its temporary files and
// their clean-up, on virtual time.
#include "files/transcoding_uploads.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "files/files_test_support.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TempDir;

TEST(TranscodeProgressText, IsTheShortestTextThatReadsBackWithAPointOrExponent) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0.0"}, {0.25, "0.25"}, {1.0, "1.0"}, {1e-05, "1e-05"}, {0.99, "0.99"},
      {0.1 + 0.2, "0.30000000000000004"}, {std::nan(""), "0.0"}, {1.0 / 3, "0.3333333333333333"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(progressText(value), text) << value;
}

struct TranscodeCall {
  fs::path input, output;
  std::optional<double> maxBitrate;
  bool reduce = false;
  VideoTranscoder::Progress progress;
  VideoTranscoder::Completion completion;
  std::string inputBytes;
};

using Reply = std::pair<int, std::string>;

class TranscodingUploadsTest : public ::testing::Test {
 protected:
  TranscodingUploadsTest() { make(); }

  void make() {
    uploads_ = std::make_shared<TranscodingUploads>(folder_, worker_, [this](auto input, auto output, auto cap,
                                                                             bool reduce, auto progress, auto done) {
      calls_.push_back({input, output, cap, reduce, progress, done, TempDir::readFile(input)});
    });
  }

  TranscodingUploads::Reply recorder(UploadResponse& into) {
    into.status = 0;
    return [&into](UploadResponse r) { into = std::move(r); };
  }
  void settle() {
    for (int i = 0; i < 5; ++i) {
      worker_.runUntilIdle();
      main_.runUntilIdle();
    }
  }

  Reply start(const std::string& id, UploadHeaders headers) {
    UploadResponse r;
    uploads_->start(id, UploadRequest{"POST", "orvikupload://transcodestart/" + id, std::move(headers)}, recorder(r));
    return {r.status, r.body};
  }
  Reply start(const std::string& id, std::int64_t size) { return start(id, {{"X-Total-Size", std::to_string(size)}}); }
  Reply chunk(const std::string& id, std::string bytes, bool complete = true) {
    UploadResponse r;
    uploads_->chunk(id, UploadBody{std::move(bytes), complete, complete ? "" : "cut"}, recorder(r));
    return {r.status, r.body};
  }
  Reply progress(const std::string& id) {
    UploadResponse r;
    uploads_->progress(id, recorder(r));
    return {r.status, r.body};
  }
  // The end's reply arrives later; it lands in `into`.
  void end(const std::string& id, UploadResponse& into) {
    into.status = 0;
    uploads_->end(id, [&into](UploadResponse r) { into = std::move(r); });
    settle();
  }

  std::vector<std::string> files() {
    std::vector<std::string> names = TempDir::listing(folder_);
    std::erase(names, TranscodingUploads::kLockFileName);
    return names;
  }

  orvik::testing::TestHome home_;
  TempDir temp_;
  fs::path folder_ = temp_.path() / "orvik-transcode";
  platform::VirtualQueue main_;
  platform::ScopedMainQueue scopedMain_{main_};
  platform::VirtualQueue worker_;
  std::vector<TranscodeCall> calls_;
  std::shared_ptr<TranscodingUploads> uploads_;
};

const Reply kStarted{200, R"({"status":"started"})"};
const Reply kOk{200, R"({"status":"ok"})"};
const Reply kNoJob{404, R"({"error":"no transcode job"})"};

TEST_F(TranscodingUploadsTest, StartChecksTheIdAndTheAnnouncedSize) {
  const std::pair<std::string, int> ids[] = {
      {std::string(80, 'a'), 200}, {std::string(81, 'a'), 400}, {"a.b", 400}, {"a/b", 400},
      {"a b", 400},                {"", 400},                   {"Az09_-", 200},
  };
  for (const auto& [id, status] : ids) EXPECT_EQ(start(id, 10).first, status) << id;
  EXPECT_EQ(start("x", {}), Reply(413, R"({"error":"invalid size"})"));
  const std::pair<std::string, int> sizes[] = {
      {"209715200", 200}, {"209715201", 413}, {"0", 413}, {"-1", 413}, {"12ab", 413}, {"", 413},
  };
  for (const auto& [size, status] : sizes) EXPECT_EQ(start("s1", {{"X-Total-Size", size}}).first, status) << size;
  EXPECT_EQ(start("bad", {{"X-Total-Size", "0"}}), Reply(413, R"({"error":"invalid size"})"));
}

TEST_F(TranscodingUploadsTest, TheHeadersReachTheTranscoder) {
  struct Case {
    UploadHeaders extra;
    std::optional<double> cap;
    bool reduce;
  };
  const Case cases[] = {
      {{}, std::nullopt, false},
      {{{"X-Reduce", "1"}, {"X-Max-Video-Bitrate", "2500000"}}, 2500000.0, true},
      {{{"X-Reduce", "true"}, {"X-Max-Video-Bitrate", "fast"}}, std::nullopt, false},
      {{{"X-Max-Video-Bitrate", " 100"}}, std::nullopt, false},
      {{{"X-Max-Video-Bitrate", "1.5e6"}}, 1.5e6, false},
  };
  for (const Case& c : cases) {
    calls_.clear();
    UploadHeaders headers = c.extra;
    headers.emplace_back("X-Total-Size", "2");
    ASSERT_EQ(start("h1", headers), kStarted);
    ASSERT_EQ(chunk("h1", "ab"), kOk);
    UploadResponse done;
    end("h1", done);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].maxBitrate, c.cap);
    EXPECT_EQ(calls_[0].reduce, c.reduce);
    calls_[0].completion(TranscodeError{TranscodeError::Kind::noVideoTrack, {}});
    settle();
  }
}

TEST_F(TranscodingUploadsTest, AWholeJobAnswersWithTheMp4AndLeavesNoFilesBehind) {
  ASSERT_EQ(start("job-1", 6), kStarted);
  EXPECT_EQ(progress("job-1"), Reply(200, R"({"progress":0.0})"));
  EXPECT_EQ(chunk("job-1", "abc"), kOk);
  EXPECT_EQ(chunk("job-1", ""), Reply(400, R"({"error":"empty chunk"})"));
  EXPECT_EQ(chunk("job-1", "def"), kOk);
  UploadResponse done;
  end("job-1", done);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].inputBytes, "abcdef");
  EXPECT_EQ(calls_[0].input, folder_ / "job-1.in.mov");
  EXPECT_EQ(calls_[0].output, folder_ / "job-1.out.mp4");
  EXPECT_EQ(done.status, 0);

  // While it runs: no second end, no more chunks, no new start under its id.
  UploadResponse second;
  end("job-1", second);
  EXPECT_EQ(std::make_pair(second.status, second.body), kNoJob);
  EXPECT_EQ(chunk("job-1", "x"), kNoJob);
  EXPECT_EQ(start("job-1", 3), Reply(409, R"({"error":"job is transcoding"})"));
  EXPECT_TRUE(fs::exists(calls_[0].input));

  calls_[0].progress(1e-05);
  EXPECT_EQ(progress("job-1"), Reply(200, R"({"progress":1e-05})"));
  TempDir::writeFile(calls_[0].output, "MP4BYTES");
  calls_[0].progress(1.0);
  calls_[0].completion(calls_[0].output);
  settle();
  EXPECT_EQ(done.status, 200);
  EXPECT_EQ(done.body, "MP4BYTES");
  EXPECT_EQ(done.header("Content-Type"), "video/mp4");
  EXPECT_EQ(done.header("Content-Length"), "8");
  EXPECT_EQ(done.header("Access-Control-Allow-Origin"), "*");
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(progress("job-1"), kNoJob);
  EXPECT_EQ(uploads_->jobCount(), 0u);
}

TEST_F(TranscodingUploadsTest, RefusalsDiscardTheJob) {
  ASSERT_EQ(start("over", 4), kStarted);
  EXPECT_EQ(chunk("over", "abc"), kOk);
  EXPECT_EQ(chunk("over", "de"), Reply(413, R"({"error":"more data than announced"})"));
  EXPECT_EQ(chunk("over", "d"), kNoJob);

  ASSERT_EQ(start("short", 4), kStarted);
  EXPECT_EQ(chunk("short", "abc"), kOk);
  UploadResponse incomplete;
  end("short", incomplete);
  EXPECT_EQ(std::make_pair(incomplete.status, incomplete.body), Reply(400, R"({"error":"incomplete upload"})"));
  EXPECT_EQ(progress("short"), kNoJob);

  ASSERT_EQ(start("cut", 4), kStarted);
  EXPECT_EQ(chunk("cut", "ab", false), Reply(400, R"({"error":"incomplete body: cut"})"));
  EXPECT_EQ(chunk("cut", "ab"), kNoJob);

  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(files().empty());
}

TEST_F(TranscodingUploadsTest, AFailedTranscodingAnswersWithItsDescriptionAndCleansUp) {
  ASSERT_EQ(start("f1", 1), kStarted);
  ASSERT_EQ(chunk("f1", "x"), kOk);
  UploadResponse done;
  end("f1", done);
  ASSERT_EQ(calls_.size(), 1u);
  TempDir::writeFile(calls_[0].output, "partial");
  calls_[0].completion(TranscodeError{TranscodeError::Kind::writerFailed, "disk \"full\"\n"});
  settle();
  EXPECT_EQ(done.status, 500);
  EXPECT_EQ(done.body, R"({"error":"writer failed: disk \"full\"\n"})");
  EXPECT_TRUE(files().empty());

  ASSERT_EQ(start("f2", 1), kStarted);
  ASSERT_EQ(chunk("f2", "x"), kOk);
  end("f2", done);
  calls_[1].completion(calls_[1].output);  // reported done, but nothing there
  settle();
  EXPECT_EQ(std::make_pair(done.status, done.body), Reply(500, R"({"error":"empty output"})"));
}

TEST_F(TranscodingUploadsTest, ARestartWhileReceivingBeginsAgainWithAnEmptyInput) {
  ASSERT_EQ(start("r1", 3), kStarted);
  ASSERT_EQ(chunk("r1", "old"), kOk);
  ASSERT_EQ(start("r1", 3), kStarted);
  EXPECT_EQ(TempDir::readFile(folder_ / "r1.in.mov"), "");
  ASSERT_EQ(chunk("r1", "new"), kOk);
  UploadResponse done;
  end("r1", done);
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].inputBytes, "new");
}

TEST_F(TranscodingUploadsTest, JobsAreCappedAndAbandonedOnesExpire) {
  for (std::size_t i = 0; i < TranscodingUploads::kMaxJobs; ++i) ASSERT_EQ(start("j" + std::to_string(i), 5), kStarted);
  EXPECT_EQ(start("one-more", 5), Reply(429, R"({"error":"too many transcode jobs"})"));
  // A start that reuses an id replaces its job rather than adding one.
  EXPECT_EQ(start("j0", 5), kStarted);

  main_.advance(TranscodingUploads::kIdleTimeout - 1);
  ASSERT_EQ(chunk("j1", "ab"), kOk);  // j1 is alive: its clock starts again
  main_.advance(2);
  EXPECT_EQ(uploads_->jobCount(), 1u);
  EXPECT_EQ(files(), (std::vector<std::string>{"j1.in.mov"}));
  main_.advance(TranscodingUploads::kIdleTimeout);
  EXPECT_EQ(uploads_->jobCount(), 0u);
  EXPECT_TRUE(files().empty());
  EXPECT_EQ(start("one-more", 5), kStarted);
}

TEST_F(TranscodingUploadsTest, ARunningJobNeverExpires) {
  ASSERT_EQ(start("long", 1), kStarted);
  ASSERT_EQ(chunk("long", "x"), kOk);
  UploadResponse done;
  end("long", done);
  main_.advance(TranscodingUploads::kIdleTimeout * 3);
  EXPECT_EQ(uploads_->jobCount(), 1u);
  EXPECT_TRUE(fs::exists(folder_ / "long.in.mov"));
}

TEST_F(TranscodingUploadsTest, TheFolderIsPrivateAndEmptiedAtLaunch) {
  ASSERT_EQ(start("p1", 1), kStarted);
  struct stat info {};
  ASSERT_EQ(::stat(folder_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  uploads_.reset();
  TempDir::writeFile(folder_ / "left.in.mov", "x");
  TempDir::writeFile(folder_ / "left.out.mp4", "y");
  make();
  EXPECT_TRUE(files().empty());

  // A second copy of the program on the same folder leaves the first one's files alone.
  ASSERT_EQ(start("mine", 5), kStarted);
  auto second = std::make_shared<TranscodingUploads>(folder_, worker_, nullptr);
  EXPECT_EQ(files(), (std::vector<std::string>{"mine.in.mov"}));
}

}  // namespace
}  // namespace orvik
