#include "calls/media/camera_format.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

CameraFormat format(int width, int height, std::vector<double> maxima = {30}) {
  CameraFormat result{width, height, {}};
  for (double maximum : maxima) result.frameRateRanges.push_back({1, maximum});
  return result;
}

TEST(CameraFormat, TheFormatNearestTo1280x720WinsAndTheFirstWinsTies) {
  struct Case {
    const char* name;
    std::vector<CameraFormat> formats;
    std::optional<std::pair<int, int>> chosen;
  };
  const Case cases[] = {
      {"exact match among others", {format(640, 480), format(1280, 720), format(1920, 1080)}, std::pair{1280, 720}},
      {"tie of 1000 and 1000: first listed", {format(1920, 1080), format(640, 360)}, std::pair{1920, 1080}},
      {"tie the other way round", {format(640, 360), format(1920, 1080)}, std::pair{640, 360}},
      {"a later strictly nearer format replaces", {format(320, 240), format(800, 600), format(1280, 800)},
       std::pair{1280, 800}},
      {"one format", {format(160, 120)}, std::pair{160, 120}},
      {"no format", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto best = bestFormat(c.formats);
    if (!c.chosen) {
      EXPECT_FALSE(best) << c.name;
      continue;
    }
    ASSERT_TRUE(best) << c.name;
    EXPECT_EQ(std::pair(best->width, best->height), *c.chosen) << c.name;
  }
}

TEST(CameraFormat, TheFrameRateIsTheHighestMaximumCutToAWholeNumberAndCappedAt30) {
  struct Case {
    std::vector<double> maxima;
    int fps;
  };
  const Case cases[] = {
      {{60}, 30}, {{24}, 24}, {{15, 24.9}, 24}, {{5, 60, 10}, 30}, {{}, 30}, {{29.97}, 29},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frameRate(format(1280, 720, c.maxima)), c.fps) << c.maxima.size();
  }
  // A rate the driver reports as nonsense does not stop the camera.
  EXPECT_EQ(frameRate(format(1280, 720, {0.5})), 30);
}

TEST(CameraFormat, AFrontCameraIsPreferredElseTheFirst) {
  const CameraDevice back{"b", "Back", CameraPosition::back, {}};
  const CameraDevice front{"f", "Front", CameraPosition::front, {}};
  const CameraDevice plain{"p", "USB", CameraPosition::unspecified, {}};
  EXPECT_EQ(chooseCamera({back, front})->uniqueId, "f");
  EXPECT_EQ(chooseCamera({plain, back})->uniqueId, "p");
  EXPECT_FALSE(chooseCamera({}));
}

}  // namespace
}  // namespace orvik
