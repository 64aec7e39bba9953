// The lines a test reads back from a log. Hand `sink()` to whatever takes a
// log function, or capture the platform layer's own lines (platformLog) for
// the life of the capture, after which they go to standard error again.
//
//   LogCapture log(LogCapture::Source::platformLog);
//   UserDefaults defaults(file);             // logs a damaged file
//   EXPECT_TRUE(log.contains("[UserDefaults] …"));
//
// THREAD-SAFETY: lines may arrive on any thread; read them on the test's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::testing {

class LogCapture {
 public:
  enum class Source { handedOut, platformLog };

  explicit LogCapture(Source source = Source::handedOut);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // A log function that adds to this capture; it stays safe to call after
  // the capture is gone (the line is then dropped).
  std::function<void(const std::string& line)> sink() const;

  std::vector<std::string> lines() const;
  bool contains(std::string_view line) const;
  void clear();

 private:
  struct Lines;
  std::shared_ptr<Lines> lines_;
  bool ownsPlatformLog_ = false;
};

}  // namespace orvik::testing
