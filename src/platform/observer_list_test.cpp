#include "platform/observer_list.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace orvik::platform {
namespace {

TEST(ObserverList, ObserversHearInOrderWhileTheirSubscriptionLives) {
  ObserverList<int> list;
  std::vector<std::string> heard;
  auto first = list.add([&](int v) { heard.push_back("first " + std::to_string(v)); });
  std::optional<Subscription> second = list.add([&](int v) { heard.push_back("second " + std::to_string(v)); });
  list.notify(1);
  second.reset();
  list.notify(2);
  EXPECT_EQ(heard, (std::vector<std::string>{"first 1", "second 1", "first 2"}));
  EXPECT_EQ(list.size(), 1u);
}

TEST(ObserverList, AnObserverRemovedDuringNotifyIsNotCalledAndOneAddedWaitsForTheNext) {
  ObserverList<> list;
  std::vector<std::string> heard;
  Subscription second;
  Subscription added;
  auto first = list.add([&] {
    heard.push_back("first");
    second.reset();
    if (!added) added = list.add([&] { heard.push_back("added"); });
  });
  second = list.add([&] { heard.push_back("second"); });
  list.notify();
  list.notify();
  EXPECT_EQ(heard, (std::vector<std::string>{"first", "first", "added"}));
}

TEST(ObserverList, AnObserverMayRemoveItselfWhileBeingNotified) {
  ObserverList<> list;
  int calls = 0;
  Subscription self;
  self = list.add([&] {
    ++calls;
    self.reset();
  });
  list.notify();
  list.notify();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(list.size(), 0u);
}

TEST(ObserverList, MovingASubscriptionKeepsOneObserverAndAssigningDropsTheOldOne) {
  ObserverList<> list;
  std::vector<std::string> heard;
  auto a = list.add([&] { heard.push_back("a"); });
  Subscription moved = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_TRUE(moved);
  moved = list.add([&] { heard.push_back("b"); });
  list.notify();
  EXPECT_EQ(heard, std::vector<std::string>{"b"});
}

TEST(ObserverList, ASubscriptionMayOutliveItsList) {
  Subscription subscription;
  {
    ObserverList<> list;
    subscription = list.add([] {});
  }
  EXPECT_TRUE(subscription);
  subscription.reset();  // nothing left to remove from: no crash, no effect
  EXPECT_FALSE(subscription);
}

}  // namespace
}  // namespace orvik::platform
