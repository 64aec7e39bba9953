#include "viewers/viewer_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orvik::viewers {
namespace {

TEST(ViewerRules, ViewerSizesFollowTheScreen) {
  struct Case {
    std::size_t images;
    Rect screen;
    Size size;
  };
  const std::vector<Case> cases = {
      {1, {0, 0, 1440, 900}, {960, 600}},  {1, {0, 0, 1000, 700}, {800, 560}},
      {2, {0, 0, 1440, 900}, {1120, 738}}, {3, {0, 0, 1000, 700}, {780, 574}},
      {1, kFallbackScreen, {960, 600}},    {2, {0, 0, 2560, 1440}, {1120, 760}},
  };
  for (const auto& c : cases) {
    const Size size = imageViewerSize(c.images, c.screen);
    EXPECT_DOUBLE_EQ(size.width, c.size.width) << c.images << " on " << c.screen.width;
    EXPECT_DOUBLE_EQ(size.height, c.size.height) << c.images << " on " << c.screen.width;
  }
  EXPECT_EQ(singleViewerSize({0, 0, 1000, 700}), (Size{800, 560}));
}

TEST(ViewerRules, PlacementCentresOnTheMainWindowAndStaysOnItsScreen) {
  struct Case {
    const char* label;
    Size size;
    Rect screen;
    std::optional<MainWindowPlace> main;
    Rect placed;
  };
  const std::vector<Case> cases = {
      {"centred on the screen", {960, 600}, {0, 0, 1440, 900}, std::nullopt, {240, 150, 960, 600}},
      {"centred on the main window", {400, 300}, {0, 0, 1440, 900}, MainWindowPlace{{100, 100, 600, 500}, {}},
       {200, 200, 400, 300}},
      {"pushed inside from the left", {960, 600}, {0, 0, 1440, 900}, MainWindowPlace{{0, 0, 200, 200}, {}},
       {0, 0, 960, 600}},
      {"the main window's screen wins", {400, 300}, {0, 0, 1440, 900},
       MainWindowPlace{{1500, 100, 600, 400}, Rect{1440, 0, 1920, 1080}}, {1600, 150, 400, 300}},
      {"wider than the screen ends at its right edge", {1600, 300}, {0, 0, 1440, 900}, std::nullopt,
       {-160, 300, 1600, 300}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(placeViewerWindow(c.size, c.screen, c.main), c.placed) << c.label;
  }
}

TEST(ViewerRules, SavedCopiesAreOfferedUnderTheProductsNames) {
  struct Case {
    const char* file;
    const char* image;
    const char* video;
  };
  const std::vector<Case> cases = {
      {"IMG_1.PNG", "orvik-image-IMG_1.PNG", "orvik-video-IMG_1.PNG"},
      {"image_abc.jpg", "orvik-image-abc.jpg", "orvik-video-image_abc.jpg"},
      {"orvik-photo.jpg", "orvik-photo.jpg", "orvik-photo.jpg"},
      {"Orvik-Photo.jpg", "Orvik-Photo.jpg", "Orvik-Photo.jpg"},
      {"noext", "orvik-image-noext.jpg", "orvik-video-noext.mp4"},
      {"video_1a2b.mov", "orvik-image-video_1a2b.mov", "orvik-video-1a2b.mov"},
      {"thumb_video_x.mp4", "orvik-image-video_x.mp4", "orvik-video-video_x.mp4"},
      {"image_thumb_z.png", "orvik-image-z.png", "orvik-video-image_thumb_z.png"},
      {"/docs/folder/clip", "orvik-image-clip.jpg", "orvik-video-clip.mp4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(suggestedImageName(c.file), c.image) << c.file;
    EXPECT_EQ(suggestedVideoName(c.file), c.video) << c.file;
  }
}

TEST(ViewerRules, FittingNeverEnlargesBeyondOneImagePixelPerScreenPixel) {
  // 200 × 100 pixels drawn at 200 × 100 in a 1000 × 600 view on a 2× screen.
  const auto pixel = pixelScale(200, 200, 2);
  ASSERT_TRUE(pixel);
  EXPECT_DOUBLE_EQ(*pixel, 0.5);
  EXPECT_DOUBLE_EQ(fitScale({200, 100}, {1000, 600}, pixel), 0.5);
  EXPECT_NEAR(fitScale({200, 100}, {1000, 600}, std::nullopt), 4.84, 1e-9);
  EXPECT_DOUBLE_EQ(fitScale({100000, 100000}, {1000, 600}, std::nullopt), 0.1);
  EXPECT_DOUBLE_EQ(fitScale({0, 100}, {1000, 600}, std::nullopt), 1.0);
  EXPECT_DOUBLE_EQ(fitScale({10, 10}, {20, 20}, std::nullopt), 0.1);  // the view less its margin is 1 × 1
  EXPECT_FALSE(pixelScale(0, 200, 2));
  EXPECT_FALSE(pixelScale(200, 0, 2));
  EXPECT_DOUBLE_EQ(*pixelScale(400, 200, 0), 1.0);  // no scale known: 2
  EXPECT_DOUBLE_EQ(clampMagnification(20), 8.0);
  EXPECT_DOUBLE_EQ(clampMagnification(0.01), 0.1);
  EXPECT_DOUBLE_EQ(wheelZoomFactor(-2, false), 0.8);
  EXPECT_DOUBLE_EQ(wheelZoomFactor(3, true), 1.03);
}

TEST(ViewerRules, KeysOfTheImageView) {
  const std::vector<std::pair<const char*, ViewerKey>> cases = {
      {"Right", ViewerKey::next},      {"Left", ViewerKey::previous},     {"plus", ViewerKey::zoomIn},
      {"equal", ViewerKey::zoomIn},    {"minus", ViewerKey::zoomOut},     {"underscore", ViewerKey::zoomOut},
      {"0", ViewerKey::fit},           {"a", ViewerKey::none},            {"Escape", ViewerKey::none},
      {"KP_Add", ViewerKey::zoomIn},
  };
  for (const auto& [key, expected] : cases) EXPECT_EQ(viewerKeyFor(key), expected) << key;
}

TEST(ViewerRules, TimesSkipsAndVolumeIcons) {
  const std::vector<std::pair<double, const char*>> times = {
      {0, "0:00"},        {65.4, "1:05"},         {3725, "1:02:05"},
      {3599.6, "1:00:00"}, {59.5, "1:00"},        {-1, "0:00"},
      {std::nan(""), "0:00"}, {std::numeric_limits<double>::infinity(), "0:00"},
  };
  for (const auto& [seconds, text] : times) EXPECT_EQ(formatTime(seconds), text) << seconds;

  EXPECT_DOUBLE_EQ(skipTarget(55, 10, 60), 60);
  EXPECT_DOUBLE_EQ(skipTarget(5, -10, 60), 0);
  EXPECT_DOUBLE_EQ(skipTarget(30, 10, 60), 40);
  EXPECT_DOUBLE_EQ(skipTarget(500, 10, 0), 510);  // unknown duration: bounded below only

  const std::vector<std::pair<float, const char*>> icons = {
      {0.0f, "speaker.slash.fill"}, {0.1f, "speaker.fill"},        {0.339f, "speaker.fill"},
      {0.34f, "speaker.wave.1.fill"}, {0.669f, "speaker.wave.1.fill"}, {0.67f, "speaker.wave.2.fill"},
      {1.0f, "speaker.wave.2.fill"},
  };
  for (const auto& [volume, icon] : icons) EXPECT_EQ(volumeIconName(volume), icon) << volume;
  EXPECT_FLOAT_EQ(restoredVolume(0.5f), 0.5f);
  EXPECT_FLOAT_EQ(restoredVolume(0.0f), 1.0f);
}

TEST(ViewerRules, PictureInPicturePanelsSitTwentyFromTheTopRight) {
  const Rect screen{0, 0, 1440, 900};
  struct Case {
    Size image;
    Rect frame;
  };
  const std::vector<Case> cases = {
      {{4000, 3000}, {1000, 565, 420, 315}},
      {{500, 500}, {1000, 460, 420, 420}},
      {{1, 100}, {1312, 340, 108, 540}},
      {{300, 0}, {1000, 617.5, 420, 262.5}},
  };
  for (const auto& c : cases) {
    const Rect frame = imagePiPFrame(c.image, screen);
    EXPECT_NEAR(frame.x, c.frame.x, 1e-9) << c.image.width << "x" << c.image.height;
    EXPECT_NEAR(frame.y, c.frame.y, 1e-9) << c.image.width << "x" << c.image.height;
    EXPECT_NEAR(frame.width, c.frame.width, 1e-9) << c.image.width << "x" << c.image.height;
    EXPECT_NEAR(frame.height, c.frame.height, 1e-9) << c.image.width << "x" << c.image.height;
  }
  EXPECT_EQ(videoPiPFrame({0, 25, 1440, 875}), (Rect{980, 632.5, 440, 247.5}));
  EXPECT_EQ(videoPiPFrame(kFallbackPiPScreen), (Rect{980, 632.5, 440, 247.5}));
}

TEST(ViewerRules, GalleryStripAndArrows) {
  EXPECT_DOUBLE_EQ(thumbStripWidth(1), 104);
  EXPECT_DOUBLE_EQ(thumbStripWidth(3), 3 * 72 + 32 + 16);
  EXPECT_DOUBLE_EQ(thumbX(2), 176);
  EXPECT_FALSE(canGoPrevious(0));
  EXPECT_TRUE(canGoPrevious(1));
  EXPECT_TRUE(canGoNext(0, 2));
  EXPECT_FALSE(canGoNext(1, 2));
}

TEST(ViewerRules, DocumentModesAndTextSizeSteps) {
  const std::vector<std::pair<const char*, DocumentMode>> modes = {
      {"Report.PDF", DocumentMode::pdf},       {"notes.TXT", DocumentMode::text},
      {"letter.docx", DocumentMode::external}, {"old.doc", DocumentMode::external},
      {"memo.rtf", DocumentMode::external},    {"sheet.xlsx", DocumentMode::preview},
      {"photo.png", DocumentMode::preview},    {"README", DocumentMode::preview},
  };
  for (const auto& [name, mode] : modes) EXPECT_EQ(documentModeFor(name), mode) << name;

  double scale = kTextScaleStart;
  for (int i = 0; i < 10; ++i) scale = textScaleStep(scale, -1);
  EXPECT_DOUBLE_EQ(scale, 0.5);
  for (int i = 0; i < 40; ++i) scale = textScaleStep(scale, +1);
  EXPECT_DOUBLE_EQ(scale, 3.0);
  EXPECT_DOUBLE_EQ(textScaleStep(0.9, +1), 1.0);
}

}  // namespace
}  // namespace orvik::viewers
