#include "viewers/auto_hiding_chrome.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class AutoHidingChromeTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  bool overChrome_ = false;
  std::vector<bool> fades_;
  AutoHidingChrome chrome_{queue_, {[this] { return overChrome_; }, [this](bool v) { fades_.push_back(v); }}};
};

TEST_F(AutoHidingChromeTest, RestingHidesAfterTwoSecondsAndLeavingAfterFourTenths) {
  chrome_.showChrome();  // as a viewer does right after showing its window
  queue_.advance(1.9);
  EXPECT_TRUE(chrome_.chromeVisible());
  chrome_.showChrome();  // movement restarts the idle time
  queue_.advance(1.9);
  EXPECT_TRUE(chrome_.chromeVisible());
  queue_.advance(0.1);
  EXPECT_FALSE(chrome_.chromeVisible());
  EXPECT_EQ(fades_, std::vector<bool>{false});

  chrome_.showChrome();
  EXPECT_TRUE(chrome_.chromeVisible());
  chrome_.pointerExited();
  queue_.advance(0.39);
  EXPECT_TRUE(chrome_.chromeVisible());
  queue_.advance(0.01);
  EXPECT_FALSE(chrome_.chromeVisible());
  EXPECT_EQ(fades_, (std::vector<bool>{false, true, false}));
}

TEST_F(AutoHidingChromeTest, ThePointerOnAChromeViewKeepsItCheckingAgainEveryIdleDelay) {
  overChrome_ = true;
  chrome_.showChrome();
  queue_.advance(20);
  EXPECT_TRUE(chrome_.chromeVisible());
  overChrome_ = false;
  queue_.advance(2.0);
  EXPECT_FALSE(chrome_.chromeVisible());
  EXPECT_EQ(fades_, std::vector<bool>{false});
}

TEST_F(AutoHidingChromeTest, ReleasingTheChromeCancelsItsPendingHide) {
  {
    AutoHidingChrome chrome(queue_, {[] { return false; }, [this](bool v) { fades_.push_back(v); }});
    chrome.showChrome();
  }
  queue_.advance(5);
  EXPECT_TRUE(fades_.empty());
}

}  // namespace
}  // namespace orvik
