#include "calls/media/webrtc_stats.h"

#include <api/stats/rtc_stats.h>

namespace orvik {
namespace {

nlohmann::json memberValue(const webrtc::RTCStatsMemberInterface& member) {
  using Member = webrtc::RTCStatsMemberInterface;
  switch (member.type()) {
    case Member::kBool: return *member.cast_to<webrtc::RTCStatsMember<bool>>();
    case Member::kInt32: return *member.cast_to<webrtc::RTCStatsMember<int32_t>>();
    case Member::kUint32: return *member.cast_to<webrtc::RTCStatsMember<uint32_t>>();
    case Member::kInt64: return *member.cast_to<webrtc::RTCStatsMember<int64_t>>();
    case Member::kUint64: return *member.cast_to<webrtc::RTCStatsMember<uint64_t>>();
    case Member::kDouble: return *member.cast_to<webrtc::RTCStatsMember<double>>();
    case Member::kString: return *member.cast_to<webrtc::RTCStatsMember<std::string>>();
    default: return nlohmann::json::parse(member.ValueToJson(), nullptr, false);
  }
}

}  // namespace

std::vector<StatsEntry> readStatsReport(const webrtc::RTCStatsReport& report) {
  std::vector<StatsEntry> entries;
  for (const webrtc::RTCStats& stats : report) {
    StatsEntry entry{stats.type(), stats.id()};
    for (const auto* member : stats.Members()) {
      if (member->is_defined()) entry.members[member->name()] = memberValue(*member);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace orvik
