#include "web/context_menu_trim.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvik {
namespace {

TEST(ContextMenuTrim, DropsImageMediaAndSubmenusAndTidiesSeparators) {
  const ContextMenuEntry item{}, separator{true, false, false}, image{false, false, true}, submenu{false, true, false};
  using List = std::vector<ContextMenuEntry>;
  using Kept = std::vector<std::size_t>;
  EXPECT_EQ(trimmedContextMenu(List{image, separator, item}), (Kept{2}));
  EXPECT_EQ(trimmedContextMenu(List{item, separator, separator, submenu, separator, item, separator}), (Kept{0, 1, 5}));
  EXPECT_EQ(trimmedContextMenu(List{separator, image}), Kept{});
  EXPECT_EQ(trimmedContextMenu(List{}), Kept{});
}

}  // namespace
}  // namespace orvik
