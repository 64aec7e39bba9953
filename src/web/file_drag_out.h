// Dragging one of the program's own files out of the page ("beginFileDrag"):
// the page posts the message on a mouse press over an attachment; once the
// pointer moves with the button still held, a GTK drag starts from the main
// web view offering the file (a GFile list and text/uri-list, copy only) with
// a picture of it no larger than 96 pixels. While the drag passes over the
// page the page hears "onNativeFileDragMoved" with the point in page
// coordinates (at most every kMoveReportInterval, corrected for the page
// zoom), or null once it leaves; at the end "onNativeFileDragEnded" with the
// page point of a drop on the page, or null.
//
// Linux has no file promises: whoever takes the drop copies the offered file
// itself. A drop on the page is taken here (so the web view never navigates
// to the file) and left to the page to interpret.
//
// Only regular files inside the program's folders may leave; every refusal
// ends with "onNativeFileDragEnded"(null) so the page can reset its state.
//
// THREAD-SAFETY: main queue (GTK's thread).
#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/page_call.h"

namespace orvik {
namespace platform {
class MessageRoutes;
}  // namespace platform

class FileDragOut {
 public:
  static constexpr double kMoveReportInterval = 0.04;
  static constexpr double kMaxIconSide = 96.0;

  struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
  };
  struct PagePoint {
    double x = 0;
    double y = 0;
  };

  // Whether a file may leave the program; FileSecurity's containment test
  // in the program.
  using Containment = std::function<bool(const std::filesystem::path& file)>;
  static Containment appFolders();

  FileDragOut(WebKitWebView* view, std::weak_ptr<platform::PageScriptSink> page, Containment allowed = appFolders());
  ~FileDragOut();
  FileDragOut(const FileDragOut&) = delete;
  FileDragOut& operator=(const FileDragOut&) = delete;

  void beginFileDrag(const nlohmann::json& payload);
  void publishRoutes(platform::MessageRoutes& routes);

  // The size a picture of `image` is shown at: its longer side at most
  // kMaxIconSide, never enlarged.
  static Size dragIconSize(Size image);
  // `destination`, or the first of "name 2.ext", "name 3.ext" … beside it
  // that names nothing yet.
  static std::filesystem::path uniqueDestination(const std::filesystem::path& destination);
  // The page's argument for a point: {x: …, y: …} with both numbers written
  // with a fraction (100.0), or null.
  static std::string pagePointArgument(const std::optional<PagePoint>& point);
  // A path the page sent: itself when it names something, else its
  // percent-decoded form when that decodes.
  static std::string resolvedPath(const std::string& path);

  // Whether a drag of ours is under way (for tests).
  bool isDragging() const { return drag_ != nullptr; }

 private:
  void refuse(const std::string& line);
  void sendEnded(const std::optional<PagePoint>& point);
  void start(const std::string& path, const std::optional<std::string>& preview);
  void removeWatch();
  bool onWatchedEvent(GdkEvent* event);
  void startSession(GdkEvent* event);
  void onMotion(double x, double y);
  void onLeave();
  void finish(GdkDragAction action);
  PagePoint toPage(double x, double y) const;

  static gboolean watchedEventThunk(GtkEventControllerLegacy*, GdkEvent* event, gpointer self);
  static void motionThunk(GtkDropControllerMotion*, double x, double y, gpointer self);
  static void leaveThunk(GtkDropControllerMotion*, gpointer self);
  static gboolean acceptThunk(GtkDropTarget*, GdkDrop* drop, gpointer self);
  static gboolean dropThunk(GtkDropTarget*, const GValue*, double x, double y, gpointer self);
  static void dropPerformedThunk(GdkDrag* drag, gpointer self);
  static void cancelThunk(GdkDrag* drag, GdkDragCancelReason reason, gpointer self);

  WebKitWebView* view_;
  std::weak_ptr<platform::PageScriptSink> page_;
  Containment allowed_;
  GtkEventController* motion_ = nullptr;
  GtkEventController* dropTarget_ = nullptr;

  // The press being watched for its first move or release.
  GtkEventController* watch_ = nullptr;
  GtkWidget* watchedWindow_ = nullptr;
  std::string pendingPath_;
  std::optional<std::string> pendingPreview_;

  GdkDrag* drag_ = nullptr;
  std::optional<PagePoint> lastPoint_;
  std::int64_t lastReportAt_ = 0;  // g_get_monotonic_time, µs
  bool ended_ = false;
};

}  // namespace orvik
