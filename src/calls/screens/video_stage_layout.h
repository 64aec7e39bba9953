// The geometry and the rules of the connected video stage and its overlays,
// as plain functions of the view model's fields: where each feed sits, which
// one is large, what each feed shows, when a sharing change swaps the feeds,
// how the tile moves under a drag, and when the placeholders go compact. The
// GTK widgets (connected_video_stage.h, video_overlays.h) only draw what
// these decide, so all of it is tested without a display.
//
// Sizes are in points (GTK's logical pixels); a width grows to the right and
// a height downwards.
//
// THREAD-SAFETY: pure functions, except TileDrag (main queue, like its view).
#pragma once

#include <array>
#include <optional>
#include <string>

namespace orvik {

struct VideoCallFields;

struct StageSize {
  double width = 0;
  double height = 0;
  bool operator==(const StageSize&) const = default;
};

struct StageRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const StageRect&) const = default;
  bool contains(double px, double py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

// The tile: 240 × 135 while the controls show, 192 × 108 while hidden; 16 pt
// from the trailing edge and 80 (24) pt above the bottom edge.
inline constexpr double kTileTrailingInset = 16;
StageSize tileSize(bool controlsVisible);
double tileBottomInset(bool controlsVisible);
// How long the tile takes to follow a change of the controls (ease in-out).
inline constexpr double kTileResizeSeconds = 0.4;
// The part of the tile, in each direction, that a drag always leaves inside
// the stage, so the tile cannot be lost off its edge.
inline constexpr double kTileKeepInside = 48;
// A press that moves less than this is a click.
inline constexpr double kTileDragThreshold = 5;

// The feed's size inside its slot: the tile box, or the largest box of
// `aspectRatio` (width ÷ height) inside the stage; the whole stage when the
// ratio is unknown, not positive or a stage side is zero.
StageSize feedSlotSize(bool isFull, StageSize stage, std::optional<double> aspectRatio, bool controlsVisible);

// Where the tile box sits: bottom-trailing at its insets, moved by `offset`.
StageRect tileFrame(StageSize stage, StageSize offset, bool controlsVisible);
// Where a feed's content sits: centred in the stage when full, the tile box
// otherwise (the hit target covers the same box).
StageRect feedSlotFrame(bool isFull, StageSize stage, StageSize pipOffset, std::optional<double> aspectRatio,
                        bool controlsVisible);

// The tile's look in its slot: corner radius, border and shadow.
struct FeedSlotStyle {
  double cornerRadius;
  double borderOpacity;  // white, 2 pt inside the edge
  double shadowOpacity;  // black, radius 20, 12 pt down
  bool showsMuteBadge;
};
FeedSlotStyle feedSlotStyle(bool isFull, bool muted);

// A video frame of `frame` size (already rotated) drawn inside `view`: the
// whole frame with bars (fit) or the view covered and the rest cropped (fill).
StageRect videoContentRect(StageSize view, StageSize frame, bool fill);

// The stage's five layers in declaration order, and their z-order: the large
// feed at 0, the gradients at 1, the tile at 2, the hit target at 3.
enum class StageLayer { remoteFeed, topGradient, bottomGradient, localFeed, tileTarget };
int stageLayerZ(StageLayer layer, bool isSwapped);
// Back to front; layers of one z keep their declaration order.
std::array<StageLayer, 5> stageDrawOrder(bool isSwapped);

enum class RemoteFeedContent { cameraOff, video, black };
RemoteFeedContent remoteFeedContent(const VideoCallFields& fields, bool hasRemoteTrack);
enum class LocalFeedContent { screenTrack, screenIndicator, camera, cameraOff };
LocalFeedContent localFeedContent(const VideoCallFields& fields, bool hasScreenTrack);
// The remote picture crops only as the tile, and never a shared screen.
bool remoteFeedFills(const VideoCallFields& fields);

// Aspect ratios the slots get: the remote one only while its video is there
// and on; the local screen's only while sharing.
std::optional<double> remoteSlotAspectRatio(const VideoCallFields& fields, std::optional<double> reported);
std::optional<double> localSlotAspectRatio(const VideoCallFields& fields, std::optional<double> reported);

// While only the other party shares, the local tile is invisible and lets
// clicks through; otherwise it shows and takes them.
struct TileVisibility {
  double localFeedOpacity;
  bool localFeedTakesHits;
  bool targetTakesHits;
};
TileVisibility tileVisibility(const VideoCallFields& fields);

// The swap a change of a sharing flag sets (the new `isScreenSharing`), or
// nothing when neither flag changed.
std::optional<bool> swapForSharingChange(const VideoCallFields& before, const VideoCallFields& after);

// The tile's offset kept so that kTileKeepInside of it stays inside the stage
// both ways (all of it when the tile is smaller than that).
StageSize clampTileOffset(StageSize offset, StageSize stage, bool controlsVisible);

// Clicks and drags on the tile: a press that moves less than the threshold
// is a click; a drag moves the tile by its translation, and on release the
// translation adds to the saved offset (kept inside the stage).
class TileDrag {
 public:
  enum class Outcome { none, click, moved };

  void begin() {
    dragging_ = false;
    drag_ = {};
  }
  void update(StageSize translation);
  // `stage` and `controlsVisible` bound the saved offset.
  Outcome end(StageSize translation, StageSize stage, bool controlsVisible);

  bool isDragging() const { return dragging_; }
  StageSize savedOffset() const { return saved_; }
  StageSize dragOffset() const { return drag_; }
  // Saved plus drag, kept inside the stage.
  StageSize currentOffset(StageSize stage, bool controlsVisible) const;

 private:
  StageSize saved_;
  StageSize drag_;
  bool dragging_ = false;
};

// Ease in-out over [0, 1].
double easeInOut(double progress);

// The placeholders shrink when the shorter side is under 180 pt.
inline constexpr double kCompactBelow = 180;
bool isCompactFeed(StageSize size);

struct CameraOffLayout {
  bool compact;
  double avatarSize;  // 52 or 96
  double spacing;     // 6 or 14
  double nameFontSize;
  bool showsName;
  bool showsIdLine;
  bool showsCameraOffText;
  double ringWidth;   // 2 or 3, gold when subscribed
  double badgeSize;   // 16 or 28
};
CameraOffLayout cameraOffLayout(StageSize size, bool showsName, bool hasOrvikID);

struct ScreenSharingIndicatorLayout {
  bool compact;
  double symbolSize;  // 20 or 34
  double spacing;     // 4 or 10
  bool showsText;
};
ScreenSharingIndicatorLayout screenSharingIndicatorLayout(StageSize size);

// The short name of a party: the part before the first "_" (callDisplayName).
std::string shortCallName(const std::string& name);
// "anna muted" for anna_lee.
std::string remoteMutedText(const std::string& name);
// The calling overlay's status: the timer text, or the "calling" text when
// it is empty.
std::string callingStatusText(const std::string& timerText, const std::string& callingText);

}  // namespace orvik
