// ImageClipboard for tests: records what was written; bytes that do not start
// like a PNG or JPEG file are refused as the real one refuses non-images.
// THREAD-SAFETY: main queue, as the interface.
#pragma once

#include <vector>

#include "files/image_clipboard.h"

namespace orvik {

class RecordingImageClipboard final : public ImageClipboard {
 public:
  struct Written {
    std::string imageBytes;
    std::optional<std::string> text;
  };
  bool writeImage(const std::string& imageBytes, const std::optional<std::string>& text) override {
    const bool png = imageBytes.rfind("\x89PNG", 0) == 0;
    const bool jpeg = imageBytes.rfind("\xFF\xD8\xFF", 0) == 0;
    if (!png && !jpeg) return false;
    written.push_back({imageBytes, text && !text->empty() ? text : std::nullopt});
    return true;
  }
  std::vector<Written> written;
};

}  // namespace orvik
