// WebRTC's statistics report as our own StatsEntry values, so that the ICE
// diagnostics (ice_diagnostics.h) read them without WebRTC. Media engine only.
#pragma once

#include <vector>

#include <api/stats/rtc_stats_report.h>

#include "calls/media/ice_diagnostics.h"

namespace orvik {

std::vector<StatsEntry> readStatsReport(const webrtc::RTCStatsReport& report);

}  // namespace orvik
