#include "web/context_menu_trim.h"

namespace orvik {

std::vector<std::size_t> trimmedContextMenu(const std::vector<ContextMenuEntry>& entries) {
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& entry = entries[i];
    if (entry.isImageOrMedia || entry.hasSubmenu) continue;
    if (entry.isSeparator && (kept.empty() || entries[kept.back()].isSeparator)) continue;
    kept.push_back(i);
  }
  if (!kept.empty() && entries[kept.back()].isSeparator) kept.pop_back();
  return kept;
}

}  // namespace orvik
