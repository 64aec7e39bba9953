#include "calls/screens/video_stage_layout.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "calls/control/test_support/recording_call_ports.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {
namespace {

std::string text(StageSize s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }
std::string text(StageRect r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" + std::to_string(r.height);
}

TEST(VideoStageLayout, AFullFeedIsTheLargestBoxOfItsRatioAndATileIsFixed) {
  struct Case {
    bool isFull;
    StageSize stage;
    std::optional<double> ratio;
    bool controlsVisible;
    StageSize expected;
  };
  const std::vector<Case> cases = {
      {true, {1000, 1000}, 16.0 / 9.0, true, {1000, 562.5}},
      {true, {1000, 1000}, 9.0 / 16.0, true, {562.5, 1000}},
      {true, {1000, 1000}, std::nullopt, true, {1000, 1000}},
      {true, {1000, 1000}, 0.0, true, {1000, 1000}},
      {true, {1000, 1000}, -2.0, true, {1000, 1000}},
      {true, {0, 500}, 16.0 / 9.0, true, {0, 500}},
      {true, {800, 0}, 16.0 / 9.0, true, {800, 0}},
      {true, {1600, 900}, 16.0 / 9.0, true, {1600, 900}},
      {true, {860, 640}, 4.0 / 3.0, true, {853.3333333333334, 640}},
      {false, {1000, 1000}, 16.0 / 9.0, true, {240, 135}},
      {false, {1000, 1000}, 9.0 / 16.0, false, {192, 108}},
  };
  for (const Case& c : cases) {
    const StageSize got = feedSlotSize(c.isFull, c.stage, c.ratio, c.controlsVisible);
    EXPECT_NEAR(got.width, c.expected.width, 1e-9) << text(c.stage) << " → " << text(got);
    EXPECT_NEAR(got.height, c.expected.height, 1e-9) << text(c.stage) << " → " << text(got);
  }
}

TEST(VideoStageLayout, TheTileSitsAtTheBottomTrailingCornerPlusTheOffset) {
  struct Case {
    StageSize stage;
    StageSize offset;
    bool controlsVisible;
    StageRect expected;
  };
  const std::vector<Case> cases = {
      // 860 − 16 − 240 = 604; 640 − 80 − 135 = 425.
      {{860, 640}, {0, 0}, true, {604, 425, 240, 135}},
      // 860 − 16 − 192 = 652; 640 − 24 − 108 = 508.
      {{860, 640}, {0, 0}, false, {652, 508, 192, 108}},
      {{860, 640}, {-300, -200}, true, {304, 225, 240, 135}},
      {{860, 640}, {-300, -200}, false, {352, 308, 192, 108}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tileFrame(c.stage, c.offset, c.controlsVisible), c.expected) << text(tileFrame(c.stage, c.offset, c.controlsVisible));
    // The tile feed's slot is the same box as the hit target.
    EXPECT_EQ(feedSlotFrame(false, c.stage, c.offset, 16.0 / 9.0, c.controlsVisible), c.expected);
  }
  // A full feed is centred.
  EXPECT_EQ(feedSlotFrame(true, {1000, 1000}, {50, 50}, 16.0 / 9.0, true), (StageRect{0, 218.75, 1000, 562.5}));
}

TEST(VideoStageLayout, OnlyTheTileIsRoundedBorderedShadowedAndBadged) {
  struct Case {
    bool isFull, muted;
    double radius, border, shadow;
    bool badge;
  };
  for (const Case& c : std::vector<Case>{{false, true, 16, 0.15, 0.8, true},
                                         {false, false, 16, 0.15, 0.8, false},
                                         {true, true, 0, 0, 0, false},
                                         {true, false, 0, 0, 0, false}}) {
    const FeedSlotStyle style = feedSlotStyle(c.isFull, c.muted);
    EXPECT_EQ(style.cornerRadius, c.radius);
    EXPECT_EQ(style.borderOpacity, c.border);
    EXPECT_EQ(style.shadowOpacity, c.shadow);
    EXPECT_EQ(style.showsMuteBadge, c.badge) << c.isFull << c.muted;
  }
}

TEST(VideoStageLayout, TheLargeFeedIsAtTheBackTheGradientsBetweenAndTheTileAndItsTargetOnTop) {
  using L = StageLayer;
  struct Case {
    bool isSwapped;
    std::array<StageLayer, 5> order;
    std::array<int, 5> z;  // in declaration order
  };
  for (const Case& c : std::vector<Case>{
           {false, {L::remoteFeed, L::topGradient, L::bottomGradient, L::localFeed, L::tileTarget}, {0, 1, 1, 2, 3}},
           {true, {L::localFeed, L::topGradient, L::bottomGradient, L::remoteFeed, L::tileTarget}, {2, 1, 1, 0, 3}}}) {
    EXPECT_EQ(stageDrawOrder(c.isSwapped), c.order) << c.isSwapped;
    int i = 0;
    for (L layer : {L::remoteFeed, L::topGradient, L::bottomGradient, L::localFeed, L::tileTarget}) {
      EXPECT_EQ(stageLayerZ(layer, c.isSwapped), c.z[i++]) << c.isSwapped;
    }
  }
}

VideoCallFields fieldsWith(std::function<void(VideoCallFields&)> edit) {
  VideoCallFields f;
  edit(f);
  return f;
}

TEST(VideoStageLayout, WhatEachFeedShows) {
  auto session = std::make_shared<CameraSessionRef>();
  struct RemoteCase {
    bool remoteVideoOff, hasRemoteVideo, hasTrack;
    RemoteFeedContent expected;
  };
  for (const RemoteCase& c : std::vector<RemoteCase>{{true, true, true, RemoteFeedContent::cameraOff},
                                                     {false, true, true, RemoteFeedContent::video},
                                                     {false, true, false, RemoteFeedContent::black},
                                                     {false, false, true, RemoteFeedContent::black},
                                                     {false, false, false, RemoteFeedContent::black}}) {
    const auto f = fieldsWith([&](VideoCallFields& f) {
      f.remoteVideoOff = c.remoteVideoOff;
      f.hasRemoteVideo = c.hasRemoteVideo;
    });
    EXPECT_EQ(remoteFeedContent(f, c.hasTrack), c.expected) << c.remoteVideoOff << c.hasRemoteVideo << c.hasTrack;
  }
  struct LocalCase {
    bool isScreenSharing, hasScreenTrack, isCameraOff, hasSession;
    LocalFeedContent expected;
  };
  for (const LocalCase& c : std::vector<LocalCase>{{true, true, false, true, LocalFeedContent::screenTrack},
                                                   {true, false, false, true, LocalFeedContent::screenIndicator},
                                                   {false, true, false, true, LocalFeedContent::camera},
                                                   {false, false, true, true, LocalFeedContent::cameraOff},
                                                   {false, false, false, false, LocalFeedContent::cameraOff}}) {
    const auto f = fieldsWith([&](VideoCallFields& f) {
      f.isScreenSharing = c.isScreenSharing;
      f.isCameraOff = c.isCameraOff;
      if (c.hasSession) f.cameraSession = session;
    });
    EXPECT_EQ(localFeedContent(f, c.hasScreenTrack), c.expected) << c.isScreenSharing << c.hasScreenTrack;
  }
  // The remote picture crops only in the tile, and never a shared screen.
  struct FillCase {
    bool isSwapped, remoteScreenSharing, fills;
  };
  for (const FillCase& c : std::vector<FillCase>{{false, false, false}, {true, false, true}, {true, true, false}, {false, true, false}}) {
    const auto f = fieldsWith([&](VideoCallFields& f) {
      f.isSwapped = c.isSwapped;
      f.remoteScreenSharing = c.remoteScreenSharing;
    });
    EXPECT_EQ(remoteFeedFills(f), c.fills);
  }
}

TEST(VideoStageLayout, TheSlotsGetTheReportedRatiosOnlyWhileTheirPictureIsThere) {
  struct Case {
    bool hasRemoteVideo, remoteVideoOff, isScreenSharing;
    std::optional<double> remote, local;
  };
  for (const Case& c : std::vector<Case>{{true, false, false, 1.5, std::nullopt},
                                         {true, true, false, std::nullopt, std::nullopt},
                                         {false, false, true, std::nullopt, 2.0}}) {
    const auto f = fieldsWith([&](VideoCallFields& f) {
      f.hasRemoteVideo = c.hasRemoteVideo;
      f.remoteVideoOff = c.remoteVideoOff;
      f.isScreenSharing = c.isScreenSharing;
    });
    EXPECT_EQ(remoteSlotAspectRatio(f, 1.5), c.remote);
    EXPECT_EQ(localSlotAspectRatio(f, 2.0), c.local);
  }
}

TEST(VideoStageLayout, SharingChangesSetTheSwapAndOnlyTheRemoteShareHidesTheTile) {
  struct Case {
    const char* what;
    bool beforeLocal, beforeRemote, afterLocal, afterRemote;
    std::optional<bool> swap;
  };
  for (const Case& c : std::vector<Case>{
           {"I start sharing", false, false, true, false, true},
           {"I stop sharing", true, false, false, false, false},
           {"the other party starts", false, false, false, true, false},
           {"the other party stops while I share", true, true, true, false, true},
           {"the other party stops", false, true, false, false, false},
           {"nothing changes", true, false, true, false, std::nullopt},
       }) {
    const auto before = fieldsWith([&](VideoCallFields& f) {
      f.isScreenSharing = c.beforeLocal;
      f.remoteScreenSharing = c.beforeRemote;
    });
    const auto after = fieldsWith([&](VideoCallFields& f) {
      f.isScreenSharing = c.afterLocal;
      f.remoteScreenSharing = c.afterRemote;
    });
    EXPECT_EQ(swapForSharingChange(before, after), c.swap) << c.what;
  }
  struct Visibility {
    bool local, remote;
    double opacity;
    bool hits;
  };
  for (const Visibility& v : std::vector<Visibility>{{false, false, 1, true}, {true, false, 1, true}, {false, true, 0, false}, {true, true, 1, true}}) {
    const auto f = fieldsWith([&](VideoCallFields& f) {
      f.isScreenSharing = v.local;
      f.remoteScreenSharing = v.remote;
    });
    const TileVisibility got = tileVisibility(f);
    EXPECT_EQ(got.localFeedOpacity, v.opacity);
    EXPECT_EQ(got.localFeedTakesHits, v.hits);
    EXPECT_EQ(got.targetTakesHits, v.hits);
  }
}

TEST(VideoStageLayout, DragsAccumulateAShortPressIsAClickAndTheTileStaysPartlyInside) {
  const StageSize stage{860, 640};
  TileDrag drag;
  // Less than 5 pt: a click, nothing moves.
  drag.begin();
  drag.update({3, 3});
  EXPECT_FALSE(drag.isDragging());
  EXPECT_EQ(drag.end({3, 3.9}, stage, true), TileDrag::Outcome::click);
  EXPECT_EQ(drag.savedOffset(), (StageSize{0, 0}));
  // Exactly 5 pt is a drag.
  drag.begin();
  drag.update({3, 4});
  EXPECT_TRUE(drag.isDragging());
  EXPECT_EQ(drag.currentOffset(stage, true), (StageSize{3, 4}));
  EXPECT_EQ(drag.end({3, 4}, stage, true), TileDrag::Outcome::moved);
  EXPECT_EQ(drag.savedOffset(), (StageSize{3, 4}));
  // A drag that starts moving and comes back under 5 pt stays a drag.
  drag.begin();
  drag.update({10, 0});
  drag.update({1, 0});
  EXPECT_EQ(drag.end({1, 0}, stage, true), TileDrag::Outcome::moved);
  EXPECT_EQ(drag.savedOffset(), (StageSize{4, 4}));
  // (−300, −200) and a second drag continue from there.
  drag = TileDrag();
  drag.begin();
  EXPECT_EQ(drag.end({-300, -200}, stage, true), TileDrag::Outcome::moved);
  drag.begin();
  drag.update({-10, -10});
  EXPECT_EQ(drag.currentOffset(stage, true), (StageSize{-310, -210}));
  drag.end({-10, -10}, stage, true);
  EXPECT_EQ(drag.savedOffset(), (StageSize{-310, -210}));

  // Far past every edge: the tile keeps 48 pt inside the stage.
  struct Case {
    StageSize offset;
    bool controlsVisible;
    StageSize kept;
  };
  for (const Case& c : std::vector<Case>{
           // left edge: x = 860 − 16 − 240 + dx ≥ 48 − 240 → dx ≥ −796
           {{-5000, 0}, true, {-796, 0}},
           // right edge: x ≤ 860 − 48 → dx ≤ 208
           {{5000, 0}, true, {208, 0}},
           // top edge: y = 640 − 80 − 135 + dy ≥ 48 − 135 → dy ≥ −512
           {{0, -5000}, true, {0, -512}},
           // bottom edge: y ≤ 640 − 48 → dy ≤ 167
           {{0, 5000}, true, {0, 167}},
           // controls hidden: 192 × 108 at 24 pt
           {{5000, 5000}, false, {160, 84}},
           {{-100, -100}, true, {-100, -100}},
       }) {
    const StageSize got = clampTileOffset(c.offset, stage, c.controlsVisible);
    EXPECT_EQ(got, c.kept) << text(c.offset) << " → " << text(got);
    const StageRect tile = tileFrame(stage, got, c.controlsVisible);
    EXPECT_GE(std::min(tile.x + tile.width, stage.width) - std::max(tile.x, 0.0), kTileKeepInside - 1e-9);
    EXPECT_GE(std::min(tile.y + tile.height, stage.height) - std::max(tile.y, 0.0), kTileKeepInside - 1e-9);
  }
  drag = TileDrag();
  drag.begin();
  drag.end({-5000, 5000}, stage, true);
  EXPECT_EQ(drag.savedOffset(), (StageSize{-796, 167}));
  // A smaller stage later keeps the tile reachable too.
  EXPECT_EQ(drag.currentOffset({400, 300}, true), (StageSize{-336, 167}));
}

TEST(VideoStageLayout, TheTileChangeEasesInAndOut) {
  EXPECT_EQ(easeInOut(0), 0);
  EXPECT_EQ(easeInOut(1), 1);
  EXPECT_EQ(easeInOut(0.5), 0.5);
  EXPECT_LT(easeInOut(0.25), 0.25);
  EXPECT_GT(easeInOut(0.75), 0.75);
  EXPECT_EQ(easeInOut(2), 1);
  EXPECT_EQ(kTileResizeSeconds, 0.4);
}

TEST(VideoStageLayout, PlaceholdersGoCompactUnder180PointsOnTheShorterSide) {
  struct Case {
    StageSize size;
    bool compact;
  };
  for (const Case& c : std::vector<Case>{{{179, 500}, true}, {{180, 500}, false}, {{500, 179}, true}, {{500, 180}, false},
                                         {{240, 135}, true}, {{192, 108}, true}, {{860, 640}, false}}) {
    EXPECT_EQ(isCompactFeed(c.size), c.compact) << text(c.size);
    const CameraOffLayout off = cameraOffLayout(c.size, true, true);
    EXPECT_EQ(off.compact, c.compact);
    EXPECT_EQ(off.avatarSize, c.compact ? 52 : 96);
    EXPECT_EQ(off.spacing, c.compact ? 6 : 14);
    EXPECT_EQ(off.showsIdLine, !c.compact);
    EXPECT_EQ(off.showsCameraOffText, !c.compact);
    const ScreenSharingIndicatorLayout share = screenSharingIndicatorLayout(c.size);
    EXPECT_EQ(share.compact, c.compact);
    EXPECT_EQ(share.symbolSize, c.compact ? 20 : 34);
    EXPECT_EQ(share.showsText, !c.compact);
  }
  // An empty OrvikID drops the ID line, label and all; the name line is the caller's choice.
  EXPECT_FALSE(cameraOffLayout({860, 640}, true, false).showsIdLine);
  EXPECT_FALSE(cameraOffLayout({860, 640}, false, true).showsName);
}

TEST(VideoStageLayout, NamesAndStatusTexts) {
  struct Case {
    const char* name;
    const char* shortName;
    const char* muted;
  };
  for (const Case& c : std::vector<Case>{{"anna_lee", "anna", "anna muted"},
                                         {"bob", "bob", "bob muted"},
                                         {"_x", "", " muted"},
                                         {"", "", " muted"}}) {
    EXPECT_EQ(shortCallName(c.name), c.shortName);
    EXPECT_EQ(remoteMutedText(c.name), c.muted);
  }
  EXPECT_EQ(callingStatusText("", "Calling..."), "Calling...");
  EXPECT_EQ(callingStatusText("Connecting...", "Calling..."), "Connecting...");
  EXPECT_EQ(callingStatusText("00:12", "Llamando..."), "00:12");
}

TEST(VideoStageLayout, TheVideoIsFittedOrFilledInsideItsView) {
  struct Case {
    StageSize view, frame;
    bool fill;
    StageRect expected;
  };
  for (const Case& c : std::vector<Case>{
           {{240, 135}, {1280, 720}, false, {0, 0, 240, 135}},
           {{200, 200}, {1280, 720}, false, {0, 43.75, 200, 112.5}},
           {{200, 200}, {1280, 720}, true, {-77.77777777777777, 0, 355.55555555555554, 200}},
           {{200, 200}, {720, 1280}, false, {43.75, 0, 112.5, 200}},
           {{200, 200}, {0, 0}, true, {0, 0, 200, 200}},
       }) {
    const StageRect got = videoContentRect(c.view, c.frame, c.fill);
    EXPECT_NEAR(got.x, c.expected.x, 1e-9) << text(got);
    EXPECT_NEAR(got.y, c.expected.y, 1e-9) << text(got);
    EXPECT_NEAR(got.width, c.expected.width, 1e-9) << text(got);
    EXPECT_NEAR(got.height, c.expected.height, 1e-9) << text(got);
  }
}

}  // namespace
}  // namespace orvik
