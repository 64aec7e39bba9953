// Reading a stacking order: meeting frames and whether any part of a window
// can be seen behind the windows in front of it, as tables.
#include "platform/window_stacking.h"

#include <gtest/gtest.h>

namespace orvik::platform {
namespace {

TEST(WindowStacking, IntersectionIsTheCommonPartOrEmpty) {
  struct Case {
    const char* what;
    WindowFrame a, b, expected;
  };
  const Case cases[] = {
      {"overlapping corner", {0, 0, 100, 100}, {50, 60, 100, 100}, {50, 60, 50, 40}},
      {"one inside the other", {0, 0, 100, 100}, {10, 10, 20, 20}, {10, 10, 20, 20}},
      {"touching edges only", {0, 0, 100, 100}, {100, 0, 50, 50}, {}},
      {"apart", {0, 0, 10, 10}, {20, 20, 10, 10}, {}},
      {"an empty frame", {0, 0, 0, 100}, {0, 0, 100, 100}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(intersection(c.a, c.b), c.expected) << c.what;
    EXPECT_EQ(intersection(c.b, c.a), c.expected) << c.what << " (swapped)";
    EXPECT_EQ(intersects(c.a, c.b), !c.expected.isEmpty()) << c.what;
  }
}

TEST(WindowStacking, AWindowIsUncoveredWhileWindowsInFrontLeaveAnyPartOfIt) {
  const WindowFrame call{100, 100, 200, 200};
  struct Case {
    const char* what;
    std::vector<StackedWindow> stack;
    bool uncovered;
  };
  const Case cases[] = {
      {"alone", {{7, call}}, true},
      {"in front of a bigger window", {{7, call}, {1, {0, 0, 1000, 1000}}}, true},
      {"behind a bigger window", {{1, {0, 0, 1000, 1000}}, {7, call}}, false},
      {"behind a window of exactly its size", {{1, call}, {7, call}}, false},
      {"half covered", {{1, {0, 0, 200, 1000}}, {7, call}}, true},
      // Four windows around a two-pixel hole in the middle.
      {"covered but for a hole",
       {{1, {100, 100, 200, 99}}, {2, {100, 200, 200, 100}}, {3, {100, 199, 98, 1}}, {4, {200, 199, 100, 1}},
        {7, call}},
       true},
      {"covered by two windows together",
       {{1, {100, 100, 200, 100}}, {2, {100, 200, 200, 100}}, {3, {0, 0, 10, 10}}, {7, call}},
       false},
      {"not on screen", {{1, {0, 0, 10, 10}}}, false},
      {"without a frame", {{7, {0, 0, 0, 0}}}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(isUncovered(c.stack, 7), c.uncovered) << c.what;
}

TEST(WindowStacking, StackIndexCountsFromTheFront) {
  const std::vector<StackedWindow> stack{{5, {}}, {9, {}}, {3, {}}};
  EXPECT_EQ(stackIndex(stack, 5), 0u);
  EXPECT_EQ(stackIndex(stack, 3), 2u);
  EXPECT_EQ(stackIndex(stack, 4), std::nullopt);
}

}  // namespace
}  // namespace orvik::platform
