// The screen share's pure choices as tables, and its start, stop, exclusion
// and own-window watch on virtual time against a scripted backend.
#include "calls/media/screen_share_capture.h"

#include <gtest/gtest.h>

#include "calls/media/test_support/fake_screen_source.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using orvik::testing::FakeScreenSource;
using Strings = std::vector<std::string>;

constexpr std::int64_t kOurPid = 4242;
const OwnApplicationIdentity kOwn{kOurPid, "orvikdesk"};

ShareableWindow window(std::uint32_t id, std::string title, std::optional<OwningApplication> owner, double width = 800,
                       double height = 600, int layer = 0) {
  return ShareableWindow{id, std::move(title), std::move(owner), layer, width, height, true};
}
const OwningApplication kEditor{1001, "Editor", "editor"};
const OwningApplication kUs{kOurPid, "OrvikDesk", "orvikdesk"};
const OwningApplication kOtherCopyOfUs{5555, "OrvikDesk", "orvikdesk"};

TEST(ScreenShareFilter, WindowsAreOfferedByOwnerLayerSizeAndOurScreenshotSetting) {
  const std::vector<ShareableWindow> all{
      window(1, "notes.txt", kEditor),
      window(2, "no owner", std::nullopt),
      window(3, "dock", kEditor, 800, 600, /*layer=*/20),
      window(4, "101 square", kEditor, 101, 101),
      window(5, "100 wide", kEditor, 100, 600),
      window(6, "100 high", kEditor, 600, 100),
      window(7, "our main window", kUs),
      window(8, "our video call window", kUs),
      window(9, "another copy of us", kOtherCopyOfUs),
  };
  struct Case {
    const char* name;
    std::vector<std::uint64_t> leaveOut;
    bool allowOwn;
    std::vector<std::uint32_t> offered;
  };
  const Case cases[] = {
      {"screenshots not allowed: none of ours", {8}, false, {1, 4}},
      {"allowed: ours except the call windows", {8}, true, {1, 4, 7, 9}},
      {"allowed, nothing left out", {}, true, {1, 4, 7, 8, 9}},
      {"a number that is no window id matches nothing", {0, 1ull << 40}, true, {1, 4, 7, 8, 9}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint32_t> ids;
    for (const auto& kept : filterShareableWindows(all, c.leaveOut, c.allowOwn, kOwn)) ids.push_back(kept.id);
    EXPECT_EQ(ids, c.offered) << c.name;
  }
}

TEST(ScreenShareFilter, PickerLabelsAndCaptureSizes) {
  struct Case {
    ShareableWindow window;
    std::string label;
  };
  const Case cases[] = {
      {window(1, "notes.txt", kEditor), "Editor — notes.txt"},
      {window(2, "", kEditor), "Editor"},
      {window(3, "", std::nullopt), "Window"},
      {window(4, "Untitled", std::nullopt), "Window — Untitled"},
      {window(5, "Sheet two", OwningApplication{4242, "", ""}), "Window — Sheet two"},
  };
  for (const auto& c : cases) EXPECT_EQ(screenShareWindowTitle(c.window), c.label);

  EXPECT_EQ(windowCaptureSize(window(1, "", kEditor, 1, 1)), std::pair(2, 2));
  EXPECT_EQ(windowCaptureSize(window(1, "", kEditor, 640.9, 480.2)), std::pair(640, 480));
  EXPECT_EQ(windowCaptureSize(window(1, "", kEditor, std::nan(""), 1e12)), std::pair(2, 16384));
}

class ScreenShareCaptureTest : public ::testing::Test {
 protected:
  ScreenShareCaptureTest() {
    source.content.displays = {ShareableDisplay{0, "Entire screen", 1920, 1080}};
    source.content.windows = {window(11, "notes.txt", kEditor), window(21, "main", kUs), window(22, "video", kUs),
                              window(23, "hidden preferences", kUs)};
    capture.setStreamDidStopHandler([this] { ++streamDidStop; });
  }
  void start(const ShareTarget& target, std::vector<std::uint64_t> exclude = {}, bool excludeAll = false) {
    capture.startCapture(target, exclude, excludeAll, [this](const std::optional<std::string>& error) {
      outcomes.push_back(error.value_or("ok"));
    });
    queue.runUntilIdle();
  }
  void settle() { queue.runUntilIdle(); }
  const ShareableDisplay& display() { return source.content.displays[0]; }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  FakeScreenSource source;
  Strings lines;
  ScreenShareCapture capture{source, kOwn, [this](const std::string& line) { lines.push_back(line); }};
  Strings outcomes;
  int streamDidStop = 0;
};

TEST_F(ScreenShareCaptureTest, TheContentFetchOffersEveryDisplayAndTheFilteredWindows) {
  std::optional<ShareableContent> offered;
  capture.fetchShareableContent({22}, /*allowOwnWindows=*/true,
                                [&](std::optional<ShareableContent> content, const std::string&) { offered = content; });
  source.answerList();
  settle();
  ASSERT_TRUE(offered);
  EXPECT_EQ(offered->displays.size(), 1u);
  std::vector<std::uint32_t> ids;
  for (const auto& w : offered->windows) ids.push_back(w.id);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{11, 21, 23}));

  std::string error;
  capture.fetchShareableContent({}, false, [&](std::optional<ShareableContent>, const std::string& e) { error = e; });
  source.answerList(/*failing=*/true);
  settle();
  EXPECT_EQ(error, "window server gone");
}

TEST_F(ScreenShareCaptureTest, AWindowShareStartsAtItsSizeAndASecondStartChangesNothing) {
  start(window(11, "notes.txt", kEditor, 1.0, 1.0));
  source.answerStart();
  settle();
  EXPECT_TRUE(capture.isCapturing());
  EXPECT_FALSE(capture.isSharingOwnWindow());
  start(display(), {22}, true);
  EXPECT_EQ(outcomes, (Strings{"ok", ScreenShareCapture::kAlreadyCapturing}));
  EXPECT_EQ(source.events, (Strings{"start 2x2@15"}));
  EXPECT_FALSE(capture.isWatchingOwnWindows());
  EXPECT_TRUE(std::count(lines.begin(), lines.end(), "[ScreenShare] Capture started — 2x2"));
}

TEST_F(ScreenShareCaptureTest, AStopDuringAPendingStartWinsAndTheLateStreamIsStoppedAtOnce) {
  struct Case {
    const char* name;
    ShareTarget target;
    bool excludeAll;
  };
  const Case cases[] = {{"window", window(21, "main", kUs), false}, {"display with exclusion", display(), true}};
  for (const auto& c : cases) {
    source.events.clear();
    outcomes.clear();
    start(c.target, {22}, c.excludeAll);
    if (c.excludeAll) {
      source.answerList();  // the exclusion is built, the stream starts
      settle();
    }
    bool stopped = false;
    capture.stopCapture([&] { stopped = true; });
    EXPECT_TRUE(stopped) << c.name << ": no stream yet, the stop completes at once";
    auto stream = source.answerStart();
    settle();
    EXPECT_TRUE(stream->stopped) << c.name;
    EXPECT_FALSE(capture.isCapturing()) << c.name;
    EXPECT_FALSE(capture.isWatchingOwnWindows()) << c.name;
    EXPECT_EQ(outcomes, (Strings{ScreenShareCapture::kStartCancelled})) << c.name;
    EXPECT_EQ(streamDidStop, 0);
  }
}

TEST_F(ScreenShareCaptureTest, ADisplayShareKeepsOurWindowsOutAndRefusesWhenTheListCannotBeRead) {
  start(display(), {22}, /*excludeAll=*/true);
  source.answerList(/*failing=*/true);
  settle();
  EXPECT_EQ(outcomes, (Strings{ScreenShareCapture::kExclusionUnavailable}));
  EXPECT_EQ(source.events, (Strings{"list all"})) << "no stream starts with our windows on show";
  EXPECT_FALSE(capture.isStarting());

  start(display(), {22}, true);
  source.answerList();
  settle();
  source.answerStart();
  settle();
  EXPECT_EQ(source.events.back(), "start 1920x1080@15 -21 -22 -23");
  EXPECT_EQ(capture.appliedExcludedIDs(), (std::set<std::uint32_t>{21, 22, 23}));
  EXPECT_TRUE(capture.isWatchingOwnWindows());
  EXPECT_TRUE(std::count(lines.begin(), lines.end(), "[ScreenShare] excluding 3 window(s) — allOwn: true"));

  // Only the call windows kept out: the numbers given, nothing else of ours.
  capture.stopCapture();
  source.events.clear();
  start(display(), {22}, false);
  source.answerList();
  settle();
  source.answerStart();
  settle();
  EXPECT_EQ(source.events, (Strings{"list on-screen", "start 1920x1080@15 -22"}));
  EXPECT_FALSE(capture.isWatchingOwnWindows());
}

TEST_F(ScreenShareCaptureTest, ThreeExclusionChangesDuringOneRefreshLeadToOneMoreRefreshWithTheLastValues) {
  start(display(), {22}, false);
  source.answerList();
  settle();
  auto stream = source.answerStart();
  settle();
  source.events.clear();

  capture.setExcludedWindows({11}, false);  // refresh 1 in flight
  capture.setExcludedWindows({22}, false);
  capture.setExcludedWindows({21}, false);
  capture.setExcludedWindows({11, 21}, false);
  EXPECT_EQ(source.events, (Strings{"list on-screen"}));
  source.answerList();
  settle();
  source.answerUpdate();
  settle();
  // Exactly one follow-up, with the last call's windows.
  EXPECT_EQ(source.events, (Strings{"list on-screen", "update 11", "list on-screen"}));
  source.answerList();
  settle();
  source.answerUpdate();
  settle();
  EXPECT_EQ(source.events.back(), "update 11 21");
  EXPECT_EQ(capture.appliedExcludedIDs(), (std::set<std::uint32_t>{11, 21}));
  EXPECT_TRUE(source.pendingLists.empty());

  // A refresh whose list cannot be read keeps the running filter.
  capture.setExcludedWindows({22}, false);
  source.answerList(/*failing=*/true);
  settle();
  EXPECT_EQ(capture.appliedExcludedIDs(), (std::set<std::uint32_t>{11, 21}));
  EXPECT_EQ(stream->excluded, (std::set<std::uint32_t>{11, 21}));
}

TEST_F(ScreenShareCaptureTest, ANewOwnWindowIsKeptOutWithinASecond) {
  start(display(), {22}, true);
  source.answerList();
  settle();
  source.answerStart();
  settle();
  source.events.clear();

  source.ownVisible = {21, 22};  // already excluded: nothing to do
  queue.advance(1.0);
  EXPECT_TRUE(source.events.empty());

  source.content.windows.push_back(window(24, "new panel", kUs));
  source.ownVisible = {21, 22, 24};
  queue.advance(1.0);
  EXPECT_EQ(source.events, (Strings{"list all"}));
  source.answerList();
  settle();
  source.answerUpdate();
  settle();
  EXPECT_EQ(source.events.back(), "update 21 22 23 24");
  // The same visible set is not asked for twice.
  queue.advance(3.0);
  EXPECT_EQ(source.events.size(), 2u);
}

TEST_F(ScreenShareCaptureTest, TheSystemEndingTheStreamStopsTheWatchAndPostsTheNotice) {
  start(display(), {}, true);
  source.answerList();
  settle();
  source.answerStart();
  settle();
  source.stoppedBySystem("window closed");
  settle();
  EXPECT_EQ(streamDidStop, 1);
  EXPECT_FALSE(capture.isCapturing());
  EXPECT_FALSE(capture.isWatchingOwnWindows());
  EXPECT_TRUE(std::count(lines.begin(), lines.end(), "[ScreenShare] stream stopped with error: window closed"));

  // A start that fails reports the error and leaves nothing behind.
  start(window(11, "gone", kEditor));
  source.answerStart("BadWindow");
  settle();
  EXPECT_EQ(outcomes.back(), "BadWindow");
  EXPECT_FALSE(capture.isCapturing() || capture.isStarting());
}

}  // namespace
}  // namespace orvik
