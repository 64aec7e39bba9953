#include "app/main_window_frame.h"

#include <gtest/gtest.h>

#include "app/testing/log_capture.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

TEST(FrameString, RoundTripsAndRefusesAnythingElse) {
  EXPECT_EQ(frameString({100, 200, 1200, 800}), "{{100, 200}, {1200, 800}}");
  EXPECT_EQ(frameString({0, 0, 1200.5, 800}), "{{0, 0}, {1200.5, 800}}");
  EXPECT_EQ(parseFrameString("{{100, 200}, {1200, 800}}"), (FrameRect{100, 200, 1200, 800}));
  EXPECT_EQ(parseFrameString("{{-5,0},{1200.5,800}}"), (FrameRect{-5, 0, 1200.5, 800}));
  for (const char* bad : {"", "{{1, 2}, {3}}", "{{1, 2}, {3, 4}, {5, 6}}", "{{1, 2}, {3, x}}", "1 2 3 4",
                          "{{1, 2}, {3, 4}}}", "{{1, 2} {3, 4}}", "{{nan, 2}, {3, 4}}"}) {
    EXPECT_EQ(parseFrameString(bad), std::nullopt) << bad;
  }
}

TEST(ClampFrameToWorkArea, ShrinksAndMovesTheFrameIntoTheWorkArea) {
  const FrameRect work{0, 27, 1728, 1090};
  struct Case {
    const char* name;
    FrameRect saved;
    FrameRect expected;
  };
  const Case cases[] = {
      {"fits", {100, 100, 1200, 800}, {100, 100, 1200, 800}},
      {"larger than the screen", {-50, 0, 3000, 2000}, {0, 27, 1728, 1090}},
      {"beyond the right edge", {1500, 300, 1200, 800}, {528, 300, 1200, 800}},
      {"on a monitor no longer attached", {-2500, 1400, 1200, 800}, {0, 317, 1200, 800}},
  };
  for (const Case& c : cases) EXPECT_EQ(clampFrameToWorkArea(c.saved, work), c.expected) << c.name;
}

class MainWindowFrameStoreTest : public ::testing::Test {
 protected:
  orvik::testing::TempDir dir;
  platform::UserDefaults defaults{dir / "defaults.json"};
  MainWindowFrameStore store{defaults};
  orvik::testing::LogCapture log;
};

TEST_F(MainWindowFrameStoreTest, WithoutAUsableSavedFrameTheDefaultSizeApplies) {
  for (const char* saved : {"", "{{0, 0}, {0, 800}}", "{{0, 0}, {1200, -1}}", "garbage"}) {
    if (*saved) defaults.setString(MainWindowFrameStore::kFrameKey, saved);
    const LaunchFrame frame = store.launchFrame({0, 0, 0, 0}, FrameRect{0, 0, 1920, 1080});
    EXPECT_FALSE(frame.fromSavedFrame) << saved;
    EXPECT_EQ(frame.width, 1200);
    EXPECT_EQ(frame.height, 824);
  }
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindowFrame] launch — current={{0, 0}, {0, 0}} saved=none wasFullScreen=false"));
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindowFrame] restore — no saved frame, default applied, new={{0, 0}, {1200, 824}}"));
}

TEST_F(MainWindowFrameStoreTest, ASavedFrameIsCutToTheWorkAreaAndTheStatesComeBack) {
  defaults.setString(MainWindowFrameStore::kFrameKey, "{{0, 0}, {2400, 900}}");
  defaults.setBool(MainWindowFrameStore::kWasFullScreenKey, true);
  defaults.setBool(MainWindowFrameStore::kWasMaximizedKey, true);
  const LaunchFrame frame = store.launchFrame({0, 0, 0, 0}, FrameRect{0, 0, 1920, 1080});
  EXPECT_TRUE(frame.fromSavedFrame);
  EXPECT_EQ(frame.width, 1920);
  EXPECT_EQ(frame.height, 900);
  EXPECT_TRUE(frame.fullScreen);
  EXPECT_TRUE(frame.maximized);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[NATIVE] [MainWindowFrame] launch — current={{0, 0}, {0, 0}} saved={{0, 0}, {1920, 900}} "
                             "wasFullScreen=true",
                             "[NATIVE] [MainWindowFrame] restore — applied immediately, new={{0, 0}, {1920, 900}}",
                             "[NATIVE] [MainWindowFrame] restore — re-entering full screen (quit while full screen)"}));
  // An unknown work area leaves the saved size as it is.
  EXPECT_EQ(store.launchFrame({0, 0, 0, 0}, std::nullopt).width, 2400);
}

TEST_F(MainWindowFrameStoreTest, SizesAreRecordedOnlyOutsideFullScreen) {
  store.recordSize(1300, 900, false);
  EXPECT_EQ(defaults.string(MainWindowFrameStore::kFrameKey), "{{0, 0}, {1300, 900}}");
  store.recordSize(1920, 1080, true);
  EXPECT_EQ(defaults.string(MainWindowFrameStore::kFrameKey), "{{0, 0}, {1300, 900}}");
  store.recordSize(0, 900, false);
  EXPECT_EQ(defaults.string(MainWindowFrameStore::kFrameKey), "{{0, 0}, {1300, 900}}");
}

TEST_F(MainWindowFrameStoreTest, QuittingInFullScreenComesBackInFullScreenWithTheWindowedSize) {
  store.recordSize(1300, 900, false);
  store.recordFullScreen(true, 1300, 900);
  EXPECT_TRUE(defaults.boolValue(MainWindowFrameStore::kWasFullScreenKey));
  const LaunchFrame frame = store.launchFrame({0, 0, 0, 0}, FrameRect{0, 0, 1920, 1080});
  EXPECT_TRUE(frame.fullScreen);
  EXPECT_EQ(frame.width, 1300);

  store.recordFullScreen(false, 1280, 880);
  EXPECT_FALSE(defaults.boolValue(MainWindowFrameStore::kWasFullScreenKey));
  EXPECT_EQ(defaults.string(MainWindowFrameStore::kFrameKey), "{{0, 0}, {1280, 880}}");
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindowFrame] entered full screen"));
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindowFrame] exited full screen — windowed frame {{0, 0}, {1280, 880}}"));

  store.recordMaximized(true);
  EXPECT_TRUE(defaults.boolValue(MainWindowFrameStore::kWasMaximizedKey));
}

}  // namespace
}  // namespace orvik
