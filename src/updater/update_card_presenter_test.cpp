#include "updater/update_card_presenter.h"

#include <limits>

#include <gtest/gtest.h>

namespace orvik {
namespace {

const AppUpdateInfo kInfo{"9.1", "910", "https://updates.test/a.tar", "n", std::nullopt};

struct CardCase {
  const char* name;
  UpdateDownloadState download;
  const char* subtitle;
  bool error;
  UpdateCardModel::Action action;
  bool bar;
  double fraction;
  bool close;
};

class UpdateCardPresenterTest : public ::testing::TestWithParam<CardCase> {};

TEST_P(UpdateCardPresenterTest, FollowsTheDownloadersState) {
  const auto& c = GetParam();
  const auto model = presentUpdateCard({kInfo, true, false, 260.0, c.download});
  EXPECT_TRUE(model.visible);
  EXPECT_EQ(model.title, "Update Available");
  EXPECT_EQ(model.subtitle, c.subtitle);
  EXPECT_EQ(model.subtitleIsError, c.error);
  EXPECT_EQ(model.action, c.action);
  EXPECT_EQ(model.showProgressBar, c.bar);
  EXPECT_DOUBLE_EQ(model.progressFraction, c.fraction);
  EXPECT_EQ(model.showCloseButton, c.close);
}

using Action = UpdateCardModel::Action;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
INSTANTIATE_TEST_SUITE_P(
    Table, UpdateCardPresenterTest,
    ::testing::Values(
        CardCase{"idle", {}, "v9.1 (910) is available", false, Action::update, false, 0.0, true},
        CardCase{"downloadingStart", {0.0, true, false, {}}, "Downloading 0%", false, Action::none, true, 0.0, false},
        CardCase{"downloadingCutsDown", {0.426, true, false, {}}, "Downloading 42%", false, Action::none, true, 0.426,
                 false},
        CardCase{"downloadingAlmostDone", {0.999, true, false, {}}, "Downloading 99%", false, Action::none, true, 0.999,
                 false},
        CardCase{"downloadingNotANumber", {kNaN, true, false, {}}, "Downloading 0%", false, Action::none, true, 0.0,
                 false},
        CardCase{"downloadingPastTheEnd", {1.7, true, false, {}}, "Downloading 100%", false, Action::none, true, 1.0,
                 false},
        CardCase{"installing", {1.0, false, true, {}}, "Installing update…", false, Action::installing, false, 1.0,
                 false},
        CardCase{"failed", {0.3, false, false, std::string("DMG download failed.")}, "DMG download failed.", true,
                 Action::update, false, 0.3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateCardPlacementTest, SitsBesideTheStripWhenSignedInElseInTheCorner) {
  auto signedIn = presentUpdateCard({kInfo, true, true, 412.4, {}});
  EXPECT_TRUE(signedIn.showArrow);
  EXPECT_TRUE(signedIn.alignStart);
  EXPECT_EQ(signedIn.marginStart, 72);
  EXPECT_EQ(signedIn.marginEnd, 0);
  EXPECT_EQ(signedIn.marginBottom, 412);
  auto signedOut = presentUpdateCard({kInfo, true, false, 412.4, {}});
  EXPECT_FALSE(signedOut.showArrow);
  EXPECT_FALSE(signedOut.alignStart);
  EXPECT_EQ(signedOut.marginStart, 0);
  EXPECT_EQ(signedOut.marginEnd, 24);
  EXPECT_EQ(signedOut.marginBottom, 24);
}

TEST(UpdateCardPlacementTest, ShowsOnlyWhenAskedAndAnUpdateIsKnown) {
  EXPECT_FALSE(presentUpdateCard({std::nullopt, true, false, 260.0, {}}).visible);
  EXPECT_FALSE(presentUpdateCard({kInfo, false, false, 260.0, {}}).visible);
  EXPECT_TRUE(presentUpdateCard({kInfo, true, false, 260.0, {}}).visible);
}

}  // namespace
}  // namespace orvik
