// The transcoder's settings rules as a table, and real transcodings of clips
// made at test time with GStreamer (videotestsrc): a 4K HEVC clip with sound,
// a clip stored with a quarter turn, and one without sound.
#include "files/video_transcoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "files/test_support/video_fixtures.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TempDir;
using Source = VideoTranscoder::SourceInfo;

TEST(VideoTranscoderSettings, TheWorkedExamples) {
  struct Case {
    double width, height, fps, rate;
    bool hvc1, reduce;
    std::optional<double> cap;
    int outWidth, outHeight;
    double frameRate;
    long long bitRate;
    int keyFrames;
  };
  const Case cases[] = {
      {1920, 1080, 30, 6000000, false, false, {}, 1920, 1080, 30, 6000000, 60},
      {3840, 2160, 29.97, 40000000, true, false, {}, 1920, 1080, 29.97, 9321868, 60},
      {3840, 2160, 29.97, 40000000, true, true, 4000000, 1920, 1080, 29.97, 4000000, 60},
      {1080, 1081, 25, 0, false, false, {}, 1080, 1082, 25, 4382100, 50},
      {640, 360, 0, 0, false, false, {}, 640, 360, 30, 1036800, 60},
      {720, 1280, 120, 3000000, false, true, {}, 720, 1280, 60, 2700000, 120},
      {320, 240, 15, 200000, false, false, {}, 320, 240, 15, 500000, 30},
  };
  for (const Case& c : cases) {
    Source source;
    source.naturalWidth = c.width;
    source.naturalHeight = c.height;
    source.nominalFrameRate = c.fps;
    source.estimatedDataRate = c.rate;
    source.isHvc1 = c.hvc1;
    const auto settings = VideoTranscoder::deriveSettings(source, c.cap, c.reduce);
    ASSERT_TRUE(settings) << c.width << "x" << c.height;
    EXPECT_EQ(settings->outputWidth, c.outWidth) << c.width << "x" << c.height;
    EXPECT_EQ(settings->outputHeight, c.outHeight) << c.width << "x" << c.height;
    EXPECT_DOUBLE_EQ(settings->frameRate, c.frameRate) << c.width << "x" << c.height;
    EXPECT_EQ(settings->bitRate, c.bitRate) << c.width << "x" << c.height;
    EXPECT_EQ(settings->keyFrameInterval, c.keyFrames) << c.width << "x" << c.height;
  }
}

TEST(VideoTranscoderSettings, EdgesOfSizeRateAndCap) {
  Source portrait;
  portrait.naturalWidth = 1920;
  portrait.naturalHeight = 1080;
  portrait.rotationDegrees = 90;
  auto s = VideoTranscoder::deriveSettings(portrait, {}, false);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::make_pair(s->outputWidth, s->outputHeight), std::make_pair(1080, 1920));

  Source sliver;
  sliver.naturalWidth = 3840;
  sliver.naturalHeight = 1;
  s = VideoTranscoder::deriveSettings(sliver, {}, false);
  EXPECT_EQ(std::make_pair(s->outputWidth, s->outputHeight), std::make_pair(1920, 2));

  Source empty;
  empty.naturalWidth = 0;
  empty.naturalHeight = 100;
  EXPECT_FALSE(VideoTranscoder::deriveSettings(empty, {}, false));
  empty.naturalWidth = std::nan("");
  EXPECT_FALSE(VideoTranscoder::deriveSettings(empty, {}, false));

  Source hd;
  hd.naturalWidth = 1280;
  hd.naturalHeight = 720;
  for (double fps : {0.0, 0.5, std::nan(""), double(INFINITY)}) {
    hd.nominalFrameRate = fps;
    EXPECT_EQ(VideoTranscoder::deriveSettings(hd, {}, false)->roundedFrameRate, 30) << fps;
  }
  hd.nominalFrameRate = 29.97;
  s = VideoTranscoder::deriveSettings(hd, {}, false);
  EXPECT_EQ(s->roundedFrameRate, 30);
  EXPECT_EQ(s->keyFrameInterval, 60);
  EXPECT_EQ(s->bitRate, static_cast<long long>(1280 * 720 * 29.97 * 0.15));
  EXPECT_EQ(std::make_pair(s->outputWidth, s->outputHeight), std::make_pair(1280, 720));

  // 'hvc1' counts half as much again before the budget; 'hev1' does not.
  Source big;
  big.naturalWidth = 1920;
  big.naturalHeight = 1080;
  big.nominalFrameRate = 60;
  big.estimatedDataRate = 6000000;
  EXPECT_EQ(VideoTranscoder::deriveSettings(big, {}, false)->bitRate, 6000000);
  big.isHvc1 = true;
  EXPECT_EQ(VideoTranscoder::deriveSettings(big, {}, false)->bitRate, 9000000);
  EXPECT_EQ(VideoTranscoder::deriveSettings(big, 0.0, false)->bitRate, 9000000);
  EXPECT_EQ(VideoTranscoder::deriveSettings(big, -5.0, false)->bitRate, 9000000);
  EXPECT_EQ(VideoTranscoder::deriveSettings(big, 100000.0, false)->bitRate, 500000);
}

TEST(VideoTranscoderErrors, DescriptionsReachThePageAsWritten) {
  EXPECT_EQ((TranscodeError{TranscodeError::Kind::readerFailed, "x"}).description(), "reader failed: x");
  EXPECT_EQ((TranscodeError{TranscodeError::Kind::writerFailed, "y"}).description(), "writer failed: y");
  EXPECT_EQ((TranscodeError{TranscodeError::Kind::noVideoTrack, ""}).description(), "no video track");
  EXPECT_EQ((TranscodeError{TranscodeError::Kind::platform, "Resource not found."}).description(),
            "Resource not found.");
}

class VideoTranscoderIntegration : public ::testing::Test {
 protected:
  struct Run {
    std::optional<VideoTranscoder::Result> result;
    std::vector<double> progress;
  };
  Run transcode(const fs::path& input, const fs::path& output, std::optional<double> cap = {}, bool reduce = false) {
    Run run;
    std::mutex mutex;
    VideoTranscoder::transcode(
        input, output, cap, reduce,
        [&](double value) {
          std::lock_guard<std::mutex> guard(mutex);
          run.progress.push_back(value);
        },
        [&](VideoTranscoder::Result result) {
          EXPECT_FALSE(run.result) << "completion called twice";
          run.result = std::move(result);
        });
    EXPECT_TRUE(run.result) << "no completion";
    return run;
  }

  static void expectProgressRisesToOne(const std::vector<double>& progress) {
    ASSERT_GE(progress.size(), 2u);
    EXPECT_GE(progress.front(), 0.0);
    EXPECT_LT(progress.front(), 0.5);
    for (std::size_t i = 0; i + 1 < progress.size(); ++i) EXPECT_LE(progress[i], 0.99);
    EXPECT_EQ(progress.back(), 1.0);
  }

  TempDir temp_;
};

TEST_F(VideoTranscoderIntegration, A4kHevcClipWithSoundBecomes1080pHighProfileWithAac) {
  const fs::path input = temp_ / "uhd.mp4";
  ASSERT_TRUE(testing::makeClip(input, {3840, 2160, 30, 6, "hevc", true, 0}));
  const auto analysed = VideoTranscoder::analyse(input);
  ASSERT_TRUE(std::holds_alternative<Source>(analysed));
  EXPECT_TRUE(std::get<Source>(analysed).isHvc1);
  EXPECT_TRUE(std::get<Source>(analysed).hasAudio);

  const fs::path output = temp_ / "out.mp4";
  const Run run = transcode(input, output);
  ASSERT_TRUE(std::holds_alternative<fs::path>(*run.result))
      << std::get<TranscodeError>(*run.result).description();
  const testing::ClipFacts facts = testing::inspectClip(output);
  EXPECT_EQ(facts.videoCodec, "video/x-h264");
  EXPECT_EQ(facts.profile, "high");
  EXPECT_EQ(std::make_pair(facts.width, facts.height), std::make_pair(1920, 1080));
  EXPECT_EQ(facts.audioCodec, "audio/mpeg4");
  EXPECT_EQ(facts.audioRate, 44100);
  EXPECT_EQ(facts.audioChannels, 2);
  EXPECT_TRUE(facts.indexFirst);
  EXPECT_TRUE(facts.identityMatrix);
  EXPECT_GE(facts.decodedFrames, 1);
  expectProgressRisesToOne(run.progress);
  EXPECT_EQ(TempDir::listing(temp_.path()), (std::vector<std::string>{"out.mp4", "uhd.mp4"}));
}

TEST_F(VideoTranscoderIntegration, AQuarterTurnIsAppliedToThePixels) {
  const fs::path input = temp_ / "turned.mp4";
  // Stored 640×360 with vertical colour bars, shown turned by 90°.
  ASSERT_TRUE(testing::makeClip(input, {640, 360, 25, 10, "h264", true, 90}));
  EXPECT_EQ(std::get<Source>(VideoTranscoder::analyse(input)).rotationDegrees, 90);
  const fs::path output = temp_ / "out.mp4";
  const Run run = transcode(input, output);
  ASSERT_TRUE(std::holds_alternative<fs::path>(*run.result))
      << std::get<TranscodeError>(*run.result).description();
  const testing::ClipFacts facts = testing::inspectClip(output);
  EXPECT_EQ(std::make_pair(facts.width, facts.height), std::make_pair(360, 640));
  EXPECT_TRUE(facts.identityMatrix);
  EXPECT_TRUE(facts.indexFirst);
  // Upright: the bars now run across the picture, one colour along each row.
  EXPECT_TRUE(facts.rowsUniform);
  EXPECT_FALSE(facts.columnsUniform);
  EXPECT_EQ(facts.audioCodec, "audio/mpeg4");
}

TEST_F(VideoTranscoderIntegration, AClipWithoutSoundGivesOneVideoTrack) {
  const fs::path input = temp_ / "silent.mkv";
  ASSERT_TRUE(testing::makeClip(input, {321, 241, 0, 8, "vp8", false, 0}));
  const fs::path output = temp_ / "out.mp4";
  const Run run = transcode(input, output, 600000.0, true);
  ASSERT_TRUE(std::holds_alternative<fs::path>(*run.result))
      << std::get<TranscodeError>(*run.result).description();
  const testing::ClipFacts facts = testing::inspectClip(output);
  EXPECT_EQ(facts.videoCodec, "video/x-h264");
  EXPECT_EQ(facts.profile, "high");
  EXPECT_EQ(std::make_pair(facts.width, facts.height), std::make_pair(322, 242));
  EXPECT_EQ(facts.audioCodec, "");
  EXPECT_EQ(facts.tracks, 1);
}

TEST_F(VideoTranscoderIntegration, FailuresLeaveNoOutput) {
  const fs::path sound = temp_ / "sound.m4a";
  ASSERT_TRUE(testing::makeSoundOnly(sound));
  const fs::path output = temp_ / "out.mp4";
  TempDir::writeFile(output, "earlier");
  Run run = transcode(sound, output);
  ASSERT_TRUE(std::holds_alternative<TranscodeError>(*run.result));
  EXPECT_EQ(std::get<TranscodeError>(*run.result).description(), "no video track");
  EXPECT_EQ(TempDir::readFile(output), "earlier");  // untouched
  EXPECT_TRUE(run.progress.empty());

  const fs::path junk = temp_ / "junk.mov";
  TempDir::writeFile(junk, std::string(5000, 'j'));
  run = transcode(junk, temp_ / "junk.mp4");
  ASSERT_TRUE(std::holds_alternative<TranscodeError>(*run.result));
  EXPECT_FALSE(std::get<TranscodeError>(*run.result).description().empty());
  EXPECT_FALSE(fs::exists(temp_ / "junk.mp4"));
}

}  // namespace
}  // namespace orvik
