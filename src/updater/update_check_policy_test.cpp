#include "updater/update_check_policy.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace orvik {
namespace {

using std::chrono::system_clock;

struct LaterCase {
  const char* name;
  std::optional<double> secondsBeforeNow;  // none: never pressed
  bool open;
};

class LaterWindowTest : public ::testing::TestWithParam<LaterCase> {};

TEST_P(LaterWindowTest, IsOpenForLessThanADay) {
  const auto now = system_clock::from_time_t(1'800'000'000);
  const double nowSeconds = 1'800'000'000.0;
  const auto& c = GetParam();
  std::optional<double> stored;
  if (c.secondsBeforeNow) stored = std::isfinite(*c.secondsBeforeNow) ? nowSeconds - *c.secondsBeforeNow : *c.secondsBeforeNow;
  EXPECT_EQ(isWithinLaterWindow(stored, now), c.open);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaterWindowTest,
    ::testing::Values(LaterCase{"neverPressed", std::nullopt, false}, LaterCase{"justNow", 0.0, true},
                      LaterCase{"anHourAgo", 3600.0, true}, LaterCase{"aSecondShortOfADay", 86399.0, true},
                      LaterCase{"exactlyADay", 86400.0, false}, LaterCase{"twoDays", 172800.0, false},
                      LaterCase{"inTheFuture", -5000.0, true},
                      LaterCase{"notANumber", std::numeric_limits<double>::quiet_NaN(), false},
                      LaterCase{"infinite", std::numeric_limits<double>::infinity(), false}),
    [](const auto& info) { return std::string(info.param.name); });

struct ShowCase {
  bool silent, withinLater, loggedIn, pending;
  bool shows;
};

class UpdateDialogRuleTest : public ::testing::TestWithParam<ShowCase> {};

TEST_P(UpdateDialogRuleTest, OnlyASilentCheckInTheLaterWindowWithAUserStaysQuiet) {
  const auto& c = GetParam();
  EXPECT_EQ(shouldShowUpdateDialog({c.silent, c.withinLater, c.loggedIn, c.pending}), c.shows)
      << "silent " << c.silent << " later " << c.withinLater << " user " << c.loggedIn << " pending " << c.pending;
}

INSTANTIATE_TEST_SUITE_P(Table, UpdateDialogRuleTest,
                         ::testing::Values(ShowCase{true, true, true, false, false},   // suppressed
                                           ShowCase{true, true, true, true, true},     // pending manual build
                                           ShowCase{true, true, false, false, true},   // nobody signed in
                                           ShowCase{true, false, true, false, true},   // Later window closed
                                           ShowCase{false, true, true, false, true},   // the user asked
                                           ShowCase{false, false, false, false, true}));

}  // namespace
}  // namespace orvik
