#include "calls/screens/screen_share_picker_model.h"

#include "calls/media/screen_share_capture.h"
#include "platform/user_defaults.h"

namespace orvik {

namespace {

using Json = nlohmann::json;

bool hasKind(const std::optional<Json>& record, const char* kind) {
  if (!record || !record->is_object() || record->empty()) return false;
  const auto it = record->find("kind");
  return it != record->end() && it->is_string() && it->get<std::string>() == kind;
}

std::optional<std::int64_t> integerAt(const Json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

std::string stringAt(const Json& record, const char* key) {
  const auto it = record.find(key);
  if (it == record.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

const std::string* applicationOf(const ShareableWindow& window) {
  return window.owner ? &window.owner->applicationId : nullptr;
}

}  // namespace

bool ScreenShareLastChoice::isScreen(const std::optional<Json>& record) { return hasKind(record, "screen"); }

std::optional<std::size_t> ScreenShareLastChoice::displayIndex(const std::optional<Json>& record,
                                                               const std::vector<ShareableDisplay>& displays) {
  if (!record || !record->is_object()) return std::nullopt;
  const auto id = integerAt(*record, "displayID");
  if (!id) return std::nullopt;
  for (std::size_t i = 0; i < displays.size(); ++i) {
    if (displays[i].id == *id) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> ScreenShareLastChoice::windowIndex(const std::optional<Json>& record,
                                                              const std::vector<ShareableWindow>& windows) {
  if (!hasKind(record, "window")) return std::nullopt;
  const auto number = integerAt(*record, "windowID");
  const std::string bundleID = stringAt(*record, "bundleID");
  const std::string title = stringAt(*record, "title");
  if (number) {
    for (std::size_t i = 0; i < windows.size(); ++i) {
      if (static_cast<std::int64_t>(windows[i].id) == *number) return i;
    }
  }
  if (bundleID.empty()) return std::nullopt;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const std::string* app = applicationOf(windows[i]);
    if (app && *app == bundleID && windows[i].title == title) return i;
  }
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const std::string* app = applicationOf(windows[i]);
    if (app && *app == bundleID) return i;
  }
  return std::nullopt;
}

Json ScreenShareLastChoice::recordFor(const ShareTarget& target) {
  if (const auto* display = std::get_if<ShareableDisplay>(&target)) {
    return {{"kind", "screen"}, {"displayID", display->id}};
  }
  const auto& window = std::get<ShareableWindow>(target);
  const std::string* app = applicationOf(window);
  return {{"kind", "window"},
          {"windowID", static_cast<std::int64_t>(window.id)},
          {"bundleID", app ? *app : std::string()},
          {"title", window.title}};
}

ScreenSharePickerModel::ScreenSharePickerModel(ShareableContent content, platform::UserDefaults& defaults)
    : content_(std::move(content)), defaults_(defaults) {
  const auto record = defaults_.dictionary(ScreenShareLastChoice::kDefaultsKey);
  if (ScreenShareLastChoice::isScreen(record) && !content_.displays.empty()) {
    tab_ = Tab::screen;
    selectedDisplay_ = ScreenShareLastChoice::displayIndex(record, content_.displays).value_or(0);
  } else {
    tab_ = Tab::window;
    selectedWindow_ = ScreenShareLastChoice::windowIndex(record, content_.windows);
  }
}

void ScreenSharePickerModel::setTab(Tab tab) {
  tab_ = tab;
  if (tab == Tab::window && !selectedWindow_ && !content_.windows.empty()) selectedWindow_ = 0;
  if (tab == Tab::screen && !selectedDisplay_ && !content_.displays.empty()) selectedDisplay_ = 0;
}

void ScreenSharePickerModel::select(std::size_t index) {
  if (tab_ == Tab::window && index < content_.windows.size()) selectedWindow_ = index;
  if (tab_ == Tab::screen && index < content_.displays.size()) selectedDisplay_ = index;
}

void ScreenSharePickerModel::thumbnailsArrived() {
  if (!selectedWindow_ && !content_.windows.empty()) selectedWindow_ = 0;
}

std::string ScreenSharePickerModel::displayTitle(std::size_t index, std::size_t count) {
  return count < 2 ? std::string(kScreenTab) : "Screen " + std::to_string(index + 1);
}

std::vector<std::string> ScreenSharePickerModel::cardTitles() const {
  std::vector<std::string> titles;
  if (tab_ == Tab::window) {
    for (const auto& window : content_.windows) titles.push_back(screenShareWindowTitle(window));
  } else {
    for (std::size_t i = 0; i < content_.displays.size(); ++i) {
      titles.push_back(displayTitle(i, content_.displays.size()));
    }
  }
  return titles;
}

std::optional<ShareTarget> ScreenSharePickerModel::share() {
  const auto index = selection();
  if (!index) return std::nullopt;
  ShareTarget target = tab_ == Tab::screen ? ShareTarget(content_.displays[*index])
                                           : ShareTarget(content_.windows[*index]);
  defaults_.setDictionary(ScreenShareLastChoice::kDefaultsKey, ScreenShareLastChoice::recordFor(target));
  return target;
}

}  // namespace orvik
