#include "platform/test_support/log_capture.h"

#include <algorithm>
#include <mutex>

#include "platform/platform_log.h"

namespace orvik::testing {

struct LogCapture::Lines {
  std::mutex mutex;
  std::vector<std::string> lines;
};

LogCapture::LogCapture(Source source) : lines_(std::make_shared<Lines>()) {
  if (source == Source::platformLog) {
    platform::setPlatformLogSink(sink());
    ownsPlatformLog_ = true;
  }
}

LogCapture::~LogCapture() {
  if (ownsPlatformLog_) platform::setPlatformLogSink(nullptr);
}

std::function<void(const std::string& line)> LogCapture::sink() const {
  return [weak = std::weak_ptr<Lines>(lines_)](const std::string& line) {
    if (auto lines = weak.lock()) {
      std::lock_guard lock(lines->mutex);
      lines->lines.push_back(line);
    }
  };
}

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(lines_->mutex);
  return lines_->lines;
}

bool LogCapture::contains(std::string_view line) const {
  std::lock_guard lock(lines_->mutex);
  return std::find(lines_->lines.begin(), lines_->lines.end(), line) != lines_->lines.end();
}

void LogCapture::clear() {
  std::lock_guard lock(lines_->mutex);
  lines_->lines.clear();
}

}  // namespace orvik::testing
