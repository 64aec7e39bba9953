// The viewers' rules that need no window: sizes and placement, the names
// offered when a viewed file is saved, zoom limits and steps, the video
// controls' time text, skips and volume icon, and the picture-in-picture
// panels' geometry. Rectangles use the screen's coordinates with y growing
// upwards from the rectangle's origin, as the placement rules are stated;
// GTK callers flip y where they need to.
// THREAD-SAFETY: pure functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::viewers {

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool operator==(const Rect&) const = default;
};

// Where the screen is unknown.
inline constexpr Rect kFallbackScreen{0, 0, 1200, 800};
inline constexpr Rect kFallbackPiPScreen{0, 0, 1440, 900};

// The main window as placement sees it: its frame, and the visible frame of
// its screen when known. Placement centres on it only while it is visible
// and not minimised; callers pass none otherwise.
struct MainWindowPlace {
  Rect frame;
  std::optional<Rect> screen;
};

// A new viewer window's content rectangle of `size`: centred on the main
// window when given, else on `screen`, then moved inside the screen (left or
// bottom edge first, so a window larger than the screen ends at its right or
// top edge).
Rect placeViewerWindow(Size size, Rect screen, const std::optional<MainWindowPlace>& main);

// The image viewer: a gallery gets min(0.78 w, 1120) × min(0.82 h, 760), one
// image min(0.8 w, 960) × min(0.8 h, 600).
Size imageViewerSize(std::size_t imageCount, Rect screen);
// The document viewer and the video window: min(0.8 w, 960) × min(0.8 h, 600).
Size singleViewerSize(Rect screen);

// The gallery's thumbnail strip: 72-pixel tiles 8 apart with 16 on each side.
inline constexpr double kThumbSide = 72;
inline constexpr double kStripHeight = 100;
double thumbStripWidth(std::size_t count);
double thumbX(std::size_t index);
// Whether the gallery's arrows work at `index` of `count`.
bool canGoPrevious(std::size_t index);
bool canGoNext(std::size_t index, std::size_t count);

// The names offered when a viewed file is saved. Images: without "image_"
// and then "thumb_" at the start, "orvik-image-" before the rest, extension
// "jpg" when there is none; names already starting "orvik-" stay. Videos:
// the same with "video_" and "orvik-video-", extension "mp4".
std::string suggestedImageName(std::string_view fileName);
std::string suggestedVideoName(std::string_view fileName);

// Zoom of the image view.
inline constexpr double kMinMagnification = 0.1;
inline constexpr double kMaxMagnification = 8.0;
inline constexpr double kFitMargin = 32;
double clampMagnification(double magnification);
// The magnification at which one image pixel covers one screen pixel: the
// widest pixel width of the image over (scale factor × image width); none
// without pixels.
std::optional<double> pixelScale(double maxPixelsWide, double imageWidth, double scaleFactor);
// The magnification that fits `image` into `view` less kFitMargin, never
// above the pixel scale, within the limits; 1 for an empty image.
double fitScale(Size image, Size view, std::optional<double> pixel);

// What a key does in the image view.
enum class ViewerKey { next, previous, zoomIn, zoomOut, fit, none };
// `keyName` is GDK's name of the key ("Right", "Left", "plus", "equal",
// "minus", "underscore", "0", "KP_Add" …).
ViewerKey viewerKeyFor(std::string_view keyName);
inline constexpr double kZoomInFactor = 1.25;
inline constexpr double kZoomOutFactor = 0.8;
// A mouse wheel step (or a precise scroll with the zoom modifier held).
double wheelZoomFactor(double deltaY, bool precise);

// The video controls.
// "m:ss" below an hour, "h:mm:ss" from then on; "0:00" for negative or
// non-finite seconds. Rounded to whole seconds first.
std::string formatTime(double seconds);
inline constexpr double kSkipSeconds = 10;
// `current` + `delta`, within [0, duration] (unbounded above when the
// duration is unknown, i.e. not above 0).
double skipTarget(double current, double delta, double duration);
// "speaker.slash.fill" at 0, "speaker.fill" below 0.34, "speaker.wave.1.fill"
// below 0.67, else "speaker.wave.2.fill"; compared in single precision.
std::string_view volumeIconName(float volume);
// The volume an unmute restores.
float restoredVolume(float lastVolume);

// Picture-in-picture panels, 20 from the screen's right and top edges.
inline constexpr double kPiPMargin = 20;
Rect imagePiPFrame(Size image, Rect screen);
inline constexpr Size kVideoPiPSize{440, 247.5};
inline constexpr Size kVideoPiPMinimum{200, 112};
inline constexpr Size kImagePiPMinimum{160, 120};
Rect videoPiPFrame(Rect screen);

// The document viewer's modes by lower-cased extension.
enum class DocumentMode { pdf, text, preview, external };
DocumentMode documentModeFor(std::string_view fileName);
// Text size steps: 0.9 at first, ±0.1 within [0.5, 3.0].
inline constexpr double kTextScaleStart = 0.9;
double textScaleStep(double scale, int direction);

}  // namespace orvik::viewers
