#include "calls/screens/video_stage_layout.h"

#include <algorithm>
#include <cmath>

#include "calls/screens/call_display_name.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {

StageSize tileSize(bool controlsVisible) { return controlsVisible ? StageSize{240, 135} : StageSize{192, 108}; }

double tileBottomInset(bool controlsVisible) { return controlsVisible ? 80 : 24; }

StageSize feedSlotSize(bool isFull, StageSize stage, std::optional<double> aspectRatio, bool controlsVisible) {
  if (!isFull) return tileSize(controlsVisible);
  StageSize size = stage;
  if (aspectRatio && *aspectRatio > 0 && size.width > 0 && size.height > 0) {
    if (size.width / size.height < *aspectRatio) {
      size.height = size.width / *aspectRatio;
    } else {
      size.width = *aspectRatio * size.height;
    }
  }
  return size;
}

StageRect tileFrame(StageSize stage, StageSize offset, bool controlsVisible) {
  const StageSize tile = tileSize(controlsVisible);
  return {stage.width - kTileTrailingInset - tile.width + offset.width,
          stage.height - tileBottomInset(controlsVisible) - tile.height + offset.height, tile.width, tile.height};
}

StageRect feedSlotFrame(bool isFull, StageSize stage, StageSize pipOffset, std::optional<double> aspectRatio,
                        bool controlsVisible) {
  if (!isFull) return tileFrame(stage, pipOffset, controlsVisible);
  const StageSize size = feedSlotSize(true, stage, aspectRatio, controlsVisible);
  return {(stage.width - size.width) / 2, (stage.height - size.height) / 2, size.width, size.height};
}

FeedSlotStyle feedSlotStyle(bool isFull, bool muted) {
  if (isFull) return {0, 0, 0, false};
  return {16, 0.15, 0.8, muted};
}

StageRect videoContentRect(StageSize view, StageSize frame, bool fill) {
  if (view.width <= 0 || view.height <= 0 || frame.width <= 0 || frame.height <= 0) {
    return {0, 0, view.width, view.height};
  }
  const double sx = view.width / frame.width;
  const double sy = view.height / frame.height;
  const double scale = fill ? std::max(sx, sy) : std::min(sx, sy);
  const double w = frame.width * scale;
  const double h = frame.height * scale;
  return {(view.width - w) / 2, (view.height - h) / 2, w, h};
}

int stageLayerZ(StageLayer layer, bool isSwapped) {
  switch (layer) {
    case StageLayer::remoteFeed: return isSwapped ? 2 : 0;
    case StageLayer::topGradient:
    case StageLayer::bottomGradient: return 1;
    case StageLayer::localFeed: return isSwapped ? 0 : 2;
    case StageLayer::tileTarget: return 3;
  }
  return 0;
}

std::array<StageLayer, 5> stageDrawOrder(bool isSwapped) {
  std::array<StageLayer, 5> order{StageLayer::remoteFeed, StageLayer::topGradient, StageLayer::bottomGradient,
                                  StageLayer::localFeed, StageLayer::tileTarget};
  std::stable_sort(order.begin(), order.end(), [isSwapped](StageLayer a, StageLayer b) {
    return stageLayerZ(a, isSwapped) < stageLayerZ(b, isSwapped);
  });
  return order;
}

RemoteFeedContent remoteFeedContent(const VideoCallFields& fields, bool hasRemoteTrack) {
  if (fields.remoteVideoOff) return RemoteFeedContent::cameraOff;
  if (fields.hasRemoteVideo && hasRemoteTrack) return RemoteFeedContent::video;
  return RemoteFeedContent::black;
}

LocalFeedContent localFeedContent(const VideoCallFields& fields, bool hasScreenTrack) {
  if (fields.isScreenSharing) return hasScreenTrack ? LocalFeedContent::screenTrack : LocalFeedContent::screenIndicator;
  if (!fields.isCameraOff && fields.cameraSession) return LocalFeedContent::camera;
  return LocalFeedContent::cameraOff;
}

bool remoteFeedFills(const VideoCallFields& fields) { return fields.isSwapped && !fields.remoteScreenSharing; }

std::optional<double> remoteSlotAspectRatio(const VideoCallFields& fields, std::optional<double> reported) {
  if (fields.hasRemoteVideo && !fields.remoteVideoOff) return reported;
  return std::nullopt;
}

std::optional<double> localSlotAspectRatio(const VideoCallFields& fields, std::optional<double> reported) {
  if (fields.isScreenSharing) return reported;
  return std::nullopt;
}

TileVisibility tileVisibility(const VideoCallFields& fields) {
  if (fields.remoteScreenSharing && !fields.isScreenSharing) return {0, false, false};
  return {1, true, true};
}

std::optional<bool> swapForSharingChange(const VideoCallFields& before, const VideoCallFields& after) {
  if (before.isScreenSharing != after.isScreenSharing || before.remoteScreenSharing != after.remoteScreenSharing) {
    return after.isScreenSharing;
  }
  return std::nullopt;
}

namespace {

double keepBetween(double value, double low, double high) {
  // A stage smaller than the kept part: the tile's home side wins.
  if (low > high) return high;
  return std::clamp(value, low, high);
}

}  // namespace

StageSize clampTileOffset(StageSize offset, StageSize stage, bool controlsVisible) {
  const StageSize tile = tileSize(controlsVisible);
  const double bottom = tileBottomInset(controlsVisible);
  const double keepX = std::min(kTileKeepInside, tile.width);
  const double keepY = std::min(kTileKeepInside, tile.height);
  // Tile left edge x = W − 16 − tw + dx; at least keepX of it within [0, W].
  const double lowX = keepX - stage.width + kTileTrailingInset;
  const double highX = tile.width + kTileTrailingInset - keepX;
  const double lowY = keepY - stage.height + bottom;
  const double highY = tile.height + bottom - keepY;
  return {keepBetween(offset.width, lowX, highX), keepBetween(offset.height, lowY, highY)};
}

void TileDrag::update(StageSize translation) {
  if (!dragging_ && std::hypot(translation.width, translation.height) < kTileDragThreshold) return;
  dragging_ = true;
  drag_ = translation;
}

TileDrag::Outcome TileDrag::end(StageSize translation, StageSize stage, bool controlsVisible) {
  update(translation);
  const bool moved = dragging_;
  if (moved) {
    saved_ = clampTileOffset({saved_.width + drag_.width, saved_.height + drag_.height}, stage, controlsVisible);
  }
  dragging_ = false;
  drag_ = {};
  return moved ? Outcome::moved : Outcome::click;
}

StageSize TileDrag::currentOffset(StageSize stage, bool controlsVisible) const {
  return clampTileOffset({saved_.width + drag_.width, saved_.height + drag_.height}, stage, controlsVisible);
}

double easeInOut(double progress) {
  const double t = std::clamp(progress, 0.0, 1.0);
  return t < 0.5 ? 2 * t * t : 1 - std::pow(-2 * t + 2, 2) / 2;
}

bool isCompactFeed(StageSize size) { return std::min(size.width, size.height) < kCompactBelow; }

CameraOffLayout cameraOffLayout(StageSize size, bool showsName, bool hasOrvikID) {
  const bool compact = isCompactFeed(size);
  return {compact,
          compact ? 52.0 : 96.0,
          compact ? 6.0 : 14.0,
          compact ? 13.0 : 20.0,
          showsName,
          hasOrvikID && !compact,
          !compact,
          compact ? 2.0 : 3.0,
          compact ? 16.0 : 28.0};
}

ScreenSharingIndicatorLayout screenSharingIndicatorLayout(StageSize size) {
  const bool compact = isCompactFeed(size);
  return {compact, compact ? 20.0 : 34.0, compact ? 4.0 : 10.0, !compact};
}

std::string shortCallName(const std::string& name) { return callDisplayName(name); }

std::string remoteMutedText(const std::string& name) { return shortCallName(name) + " muted"; }

std::string callingStatusText(const std::string& timerText, const std::string& callingText) {
  return timerText.empty() ? callingText : timerText;
}

}  // namespace orvik
