// A ScreenSource for tests on virtual time: its window list and streams are
// set by the test, and listings and starts complete only when the test says
// so (each completion runs on the calling thread, as a backend thread would
// hand it over).
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "calls/media/screen_source.h"

namespace orvik::testing {

class FakeScreenSource final : public ScreenSource {
 public:
  struct Stream final : ScreenStream {
    explicit Stream(FakeScreenSource& source) : source(source) {}
    void stop(Done done) override {
      stopped = true;
      source.events.push_back("stop stream");
      if (done) done(std::nullopt);
    }
    void updateExclusions(const std::set<std::uint32_t>& windows, Done done) override {
      std::string line = "update";
      for (auto id : windows) line += " " + std::to_string(id);
      source.events.push_back(line);
      excluded = windows;
      source.pendingUpdates.push_back(std::move(done));
    }
    FakeScreenSource& source;
    std::set<std::uint32_t> excluded;
    bool stopped = false;
  };

  void listContent(bool onScreenOnly, ContentDone done) override {
    events.push_back(onScreenOnly ? "list on-screen" : "list all");
    pendingLists.push_back(std::move(done));
  }
  void startStream(const StreamConfig& config, VideoSourceHandle, std::function<void(const std::string&)> stopped,
                   StartDone done) override {
    std::string line = "start " + std::to_string(config.width) + "x" + std::to_string(config.height) + "@" +
                       std::to_string(config.framesPerSecond);
    for (auto id : config.excludedWindows) line += " -" + std::to_string(id);
    events.push_back(line);
    stoppedBySystem = std::move(stopped);
    pendingStarts.push_back(std::move(done));
  }
  std::set<std::uint32_t> ownVisibleWindows() override { return ownVisible; }

  // Answers the oldest listing with `content` (or fails it when `failing`).
  void answerList(bool failing = false) {
    auto done = std::move(pendingLists.front());
    pendingLists.pop_front();
    if (failing) return done(std::nullopt, "window server gone");
    done(content, "");
  }
  std::shared_ptr<Stream> answerStart(std::optional<std::string> error = std::nullopt) {
    auto done = std::move(pendingStarts.front());
    pendingStarts.pop_front();
    if (error) {
      done(nullptr, error);
      return nullptr;
    }
    auto stream = std::make_shared<Stream>(*this);
    streams.push_back(stream);
    done(stream, std::nullopt);
    return stream;
  }
  void answerUpdate(std::optional<std::string> error = std::nullopt) {
    auto done = std::move(pendingUpdates.front());
    pendingUpdates.pop_front();
    done(error);
  }

  ShareableContent content;
  std::set<std::uint32_t> ownVisible;
  std::vector<std::string> events;
  std::deque<ContentDone> pendingLists;
  std::deque<StartDone> pendingStarts;
  std::deque<ScreenStream::Done> pendingUpdates;
  std::vector<std::shared_ptr<Stream>> streams;
  std::function<void(const std::string&)> stoppedBySystem;
};

}  // namespace orvik::testing
