// Notifier and Badge for tests: record what was posted and withdrawn, answer
// settings with `currentSettings`, and let the test play the user's part
// (respond) or the server's (failNextAdd).
// THREAD-SAFETY: main queue, as the interfaces.
#pragma once

#include <algorithm>
#include <utility>

#include "platform/notifier.h"

namespace orvik::platform {

class RecordingNotifier final : public Notifier {
 public:
  void add(NotificationRequest request, Completion completion) override {
    posted.push_back(request);
    std::optional<std::string> error = std::exchange(failNextAdd, std::nullopt);
    if (!error) shown.push_back(std::move(request));
    if (completion) completion(error);
  }
  void settings(std::function<void(const NotificationSettings&)> completion) override {
    ++settingsReads;
    completion(currentSettings);
  }
  std::vector<NotificationRequest> delivered() const override { return shown; }
  void removeDelivered(const std::vector<std::string>& identifiers) override {
    removed.push_back(identifiers);
    std::erase_if(shown, [&](const NotificationRequest& request) {
      return std::find(identifiers.begin(), identifiers.end(), request.identifier) != identifiers.end();
    });
  }
  void removeAllDelivered() override {
    ++removeAllCount;
    shown.clear();
  }
  void setResponseHandler(ResponseHandler handler) override { handler_ = std::move(handler); }

  void respond(const NotificationResponse& response) {
    if (handler_) handler_(response);
  }

  NotificationSettings currentSettings{NotificationAuthorization::authorized, true, true};
  std::optional<std::string> failNextAdd;
  std::vector<NotificationRequest> posted;
  std::vector<NotificationRequest> shown;
  std::vector<std::vector<std::string>> removed;
  int removeAllCount = 0;
  int settingsReads = 0;

 private:
  ResponseHandler handler_;
};

class RecordingBadge final : public Badge {
 public:
  std::optional<std::string> label() const override { return current; }
  void setLabel(std::optional<std::string> label) override {
    current = label;
    history.push_back(std::move(label));
  }

  std::optional<std::string> current;
  std::vector<std::optional<std::string>> history;
};

}  // namespace orvik::platform
