// Trimming of the page's context menu: image and media entries and submenus
// go, and separators never lead, trail or repeat.
// THREAD-SAFETY: pure function.
#pragma once

#include <cstddef>
#include <vector>

namespace orvik {

struct ContextMenuEntry {
  bool isSeparator = false;
  bool hasSubmenu = false;
  bool isImageOrMedia = false;
};

// The indices of the entries to keep, in order.
std::vector<std::size_t> trimmedContextMenu(const std::vector<ContextMenuEntry>& entries);

}  // namespace orvik
