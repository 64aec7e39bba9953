#include "calls/control/offer_add_record.h"

#include <algorithm>
#include <cctype>

#include <glib.h>

namespace orvik {
namespace {

using nlohmann::json;

// Compact JSON text of a level that travels inside a string; "{}" when it
// cannot be written (text that is not UTF-8).
std::string compactText(const json& level) {
  try {
    return level.dump();
  } catch (const json::exception&) {
    return "{}";
  }
}

}  // namespace

std::string makeUpperCaseUUID() {
  char* made = g_uuid_string_random();
  std::string uuid = made;
  g_free(made);
  std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](unsigned char c) { return std::toupper(c); });
  return uuid;
}

std::string makeOfferPushId() { return "rabbit_" + makeUpperCaseUUID(); }

json buildOfferAddRecord(const OfferAddRecordInputs& in) {
  const std::string callerName = in.myDisplayName.empty() ? in.myUserNumber : in.myDisplayName;
  const json caller = {
      {"name", callerName}, {"OrvikNumber", in.myUserNumber}, {"imHisFriend", true}, {"profileImage", in.myAvatarURL}};
  const json payload = {{"isAudio", in.isAudio},
                        {"deviceUDID", in.myDeviceUdid},
                        {"dateAdded", std::to_string(in.nowMs)},
                        {"caller", compactText(caller)}};
  const json pushData = {{"title", in.myUserNumber},
                         {"message", "📞 is trying to call you."},
                         {"deviceToken", in.deviceToken},
                         {"pushData", compactText(payload)},
                         {"badge", "0"},
                         {"userNumber", in.remoteUserNumber}};
  return json{{"to", in.remoteUserNumber},
              {"from", in.myUserNumber + "_" + in.myDeviceUdid},
              {"isAudio", in.isAudio},
              {"isAudioCall", in.isAudio},
              {"caller", in.myUserNumber},
              {"callerName", callerName},
              {"pushData", pushData},
              {"isNotificationEnabled", true},
              {"pushToken", in.pushId},
              {"pushId", in.pushId},
              {"tokenBasePush", true},
              {"pushType", in.isAudio ? "AudioCall" : "VideoCall"},
              {"status", "pending"},
              {"receiverName", in.remoteUserNumber},
              {"callerProfileImage", in.myAvatarURL},
              {"callContainIDs", json::array({in.remoteUserNumber, in.myUserNumber})},
              {"isPushTokenV2", true}};
}

std::optional<std::string> deviceTokenOf(const std::optional<json>& deviceRecord) {
  if (!deviceRecord || !deviceRecord->is_object()) return std::nullopt;
  const auto token = deviceRecord->find("deviceToken");
  if (token == deviceRecord->end() || !token->is_string() || token->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return token->get<std::string>();
}

}  // namespace orvik
