#include "web/file_drag_out.h"

#include <algorithm>
#include <utility>

#include "core/file_security.h"
#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr const char* kMovedFunction = "onNativeFileDragMoved";
constexpr const char* kEndedFunction = "onNativeFileDragEnded";

void logForwarded(const std::string& line) {
  NativeLogger::shared().log(line, "NATIVE", NativeLogger::ForwardToWeb{true});
}

bool exists(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::exists(path, error);
}

std::string fileURI(const fs::path& file) {
  gchar* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
  std::string text = uri ? uri : "";
  g_free(uri);
  return text;
}

// A picture of the file: the preview, else the file itself, else its icon.
GdkPaintable* dragPicture(GtkWidget* widget, const fs::path& file, const std::optional<std::string>& preview) {
  for (const std::string& source : {preview.value_or(std::string()), file.string()}) {
    if (source.empty()) continue;
    int width = 0, height = 0;
    if (!gdk_pixbuf_get_file_info(source.c_str(), &width, &height) || width <= 0 || height <= 0) continue;
    const auto size = FileDragOut::dragIconSize({double(width), double(height)});
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_scale(
        source.c_str(), std::max(1, int(size.width + 0.5)), std::max(1, int(size.height + 0.5)), TRUE, nullptr);
    if (!pixbuf) continue;
    GdkTexture* texture = gdk_texture_new_for_pixbuf(pixbuf);
    g_object_unref(pixbuf);
    return GDK_PAINTABLE(texture);
  }
  GFile* gfile = g_file_new_for_path(file.c_str());
  GFileInfo* info = g_file_query_info(gfile, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE, nullptr,
                                      nullptr);
  g_object_unref(gfile);
  const char* type = info ? g_file_info_get_content_type(info) : nullptr;
  GIcon* icon = g_content_type_get_icon(type ? type : "application/octet-stream");
  if (info) g_object_unref(info);
  GtkIconPaintable* paintable = gtk_icon_theme_lookup_by_gicon(
      gtk_icon_theme_get_for_display(gtk_widget_get_display(widget)), icon, 64, 1, GTK_TEXT_DIR_NONE,
      static_cast<GtkIconLookupFlags>(0));
  g_object_unref(icon);
  return GDK_PAINTABLE(paintable);
}

}  // namespace

FileDragOut::Containment FileDragOut::appFolders() {
  return [](const fs::path& file) { return FileSecurity::isFileInsideAppFolders(fileURI(file)); };
}

FileDragOut::FileDragOut(WebKitWebView* view, std::weak_ptr<platform::PageScriptSink> page, Containment allowed)
    : view_(view), page_(std::move(page)), allowed_(std::move(allowed)) {
  g_object_ref(view_);
  // Ahead of the web view's own drop handling: our drag's moves are tracked
  // here, and its drop on the page is taken here, not by the web view.
  motion_ = gtk_drop_controller_motion_new();
  gtk_event_controller_set_propagation_phase(motion_, GTK_PHASE_CAPTURE);
  g_signal_connect(motion_, "enter", G_CALLBACK(motionThunk), this);
  g_signal_connect(motion_, "motion", G_CALLBACK(motionThunk), this);
  g_signal_connect(motion_, "leave", G_CALLBACK(leaveThunk), this);
  gtk_widget_add_controller(GTK_WIDGET(view_), motion_);
  GtkDropTarget* target = gtk_drop_target_new(GDK_TYPE_FILE_LIST, GDK_ACTION_COPY);
  dropTarget_ = GTK_EVENT_CONTROLLER(target);
  gtk_event_controller_set_propagation_phase(dropTarget_, GTK_PHASE_CAPTURE);
  g_signal_connect(target, "accept", G_CALLBACK(acceptThunk), this);
  g_signal_connect(target, "drop", G_CALLBACK(dropThunk), this);
  gtk_widget_add_controller(GTK_WIDGET(view_), dropTarget_);
}

FileDragOut::~FileDragOut() {
  removeWatch();
  if (drag_) {
    g_signal_handlers_disconnect_by_data(drag_, this);
    g_object_unref(drag_);
  }
  g_signal_handlers_disconnect_by_data(motion_, this);
  g_signal_handlers_disconnect_by_data(dropTarget_, this);
  gtk_widget_remove_controller(GTK_WIDGET(view_), motion_);
  gtk_widget_remove_controller(GTK_WIDGET(view_), dropTarget_);
  g_object_unref(view_);
}

FileDragOut::Size FileDragOut::dragIconSize(Size image) {
  const double longer = std::max(image.width, image.height);
  const double scale = longer > 1 ? std::min(kMaxIconSide / longer, 1.0) : 1.0;
  return {image.width * scale, image.height * scale};
}

fs::path FileDragOut::uniqueDestination(const fs::path& destination) {
  std::error_code error;
  fs::path candidate = destination;
  const std::string name = destination.filename().string();
  for (int k = 2; fs::exists(fs::symlink_status(candidate, error)); ++k) {
    candidate = destination.parent_path() / numberedCopyName(name, k);
  }
  return candidate;
}

std::string FileDragOut::pagePointArgument(const std::optional<PagePoint>& point) {
  if (!point) return "null";
  return platform::jsLiteral(nlohmann::json{{"x", point->x}, {"y", point->y}});
}

std::string FileDragOut::resolvedPath(const std::string& path) {
  if (exists(path)) return path;
  gchar* decoded = g_uri_unescape_string(path.c_str(), nullptr);
  std::string result = decoded ? decoded : path;
  g_free(decoded);
  return result;
}

void FileDragOut::publishRoutes(platform::MessageRoutes& routes) {
  [[maybe_unused]] const bool known =
      routes.route("beginFileDrag", [this](const nlohmann::json& body) { beginFileDrag(body); });
}

void FileDragOut::sendEnded(const std::optional<PagePoint>& point) {
  const nlohmann::json argument =
      point ? nlohmann::json{{"x", point->x}, {"y", point->y}} : nlohmann::json(nullptr);
  platform::callPage(page_, platform::pageFunctionCall(kEndedFunction, {argument}));
}

void FileDragOut::refuse(const std::string& line) {
  logForwarded(line);
  sendEnded(std::nullopt);
}

void FileDragOut::beginFileDrag(const nlohmann::json& payload) {
  const std::string path = resolvedPath(platform::payloadString(payload, "localFilePath").value_or(""));
  logForwarded("[FileDrag] request: " + path);
  std::error_code error;
  if (!exists(path) || !fs::is_regular_file(path, error)) return refuse("[FileDrag] ❌ no file at that path");
  if (!allowed_(path)) return refuse("[FileDrag] ❌ file is outside the Orvik folder");
  std::optional<std::string> preview;
  if (const auto given = platform::payloadString(payload, "previewPath")) {
    std::string resolved = resolvedPath(*given);
    if (exists(resolved) && allowed_(resolved)) preview = std::move(resolved);
  }
  start(path, preview);
}

void FileDragOut::start(const std::string& path, const std::optional<std::string>& preview) {
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view_));
  GdkSurface* surface = root && GTK_IS_WINDOW(root) ? gtk_native_get_surface(GTK_NATIVE(root)) : nullptr;
  if (!surface) {
    nativeLog("[FileDrag] ❌ no web view / window");
    sendEnded(std::nullopt);
    return;
  }
  GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(view_)));
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  GdkModifierType mask{};
  double x = 0, y = 0;
  if (!pointer || !gdk_surface_get_device_position(surface, pointer, &x, &y, &mask) ||
      !(mask & GDK_BUTTON1_MASK)) {
    nativeLog("[FileDrag] ❌ mouse already released");
    sendEnded(std::nullopt);
    return;
  }
  removeWatch();
  pendingPath_ = path;
  pendingPreview_ = preview;
  watchedWindow_ = GTK_WIDGET(g_object_ref(root));
  watch_ = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(watch_, GTK_PHASE_CAPTURE);
  g_signal_connect(watch_, "event", G_CALLBACK(watchedEventThunk), this);
  gtk_widget_add_controller(watchedWindow_, watch_);
}

void FileDragOut::removeWatch() {
  if (!watch_) return;
  g_signal_handlers_disconnect_by_data(watch_, this);
  // Not inside the controller's own event: it goes once that is over.
  gtk_event_controller_set_propagation_phase(watch_, GTK_PHASE_NONE);
  GtkEventController* controller = std::exchange(watch_, nullptr);
  GtkWidget* window = std::exchange(watchedWindow_, nullptr);
  g_idle_add_once(
      [](gpointer data) {
        auto* pair = static_cast<std::pair<GtkWidget*, GtkEventController*>*>(data);
        gtk_widget_remove_controller(pair->first, pair->second);
        g_object_unref(pair->first);
        delete pair;
      },
      new std::pair<GtkWidget*, GtkEventController*>(window, controller));
}

gboolean FileDragOut::watchedEventThunk(GtkEventControllerLegacy*, GdkEvent* event, gpointer self) {
  return static_cast<FileDragOut*>(self)->onWatchedEvent(event);
}

bool FileDragOut::onWatchedEvent(GdkEvent* event) {
  const GdkEventType type = gdk_event_get_event_type(event);
  if (type == GDK_BUTTON_RELEASE && gdk_button_event_get_button(event) == GDK_BUTTON_PRIMARY) {
    removeWatch();
    nativeLog("[FileDrag] ❌ released before the drag moved");
    sendEnded(std::nullopt);
    return false;  // the page still gets its release
  }
  if (type == GDK_MOTION_NOTIFY && (gdk_event_get_modifier_state(event) & GDK_BUTTON1_MASK)) {
    removeWatch();
    startSession(event);
    return true;
  }
  return false;
}

void FileDragOut::startSession(GdkEvent* event) {
  GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view_));
  if (!root) return;
  const fs::path file = pendingPath_;
  GFile* gfile = g_file_new_for_path(file.c_str());
  GdkFileList* files = gdk_file_list_new_from_array(&gfile, 1);
  const std::string uriList = fileURI(file) + "\r\n";
  GBytes* uriBytes = g_bytes_new(uriList.data(), uriList.size());
  GdkContentProvider* parts[] = {gdk_content_provider_new_typed(GDK_TYPE_FILE_LIST, files),
                                 gdk_content_provider_new_for_bytes("text/uri-list", uriBytes)};
  g_bytes_unref(uriBytes);
  g_boxed_free(GDK_TYPE_FILE_LIST, files);
  g_object_unref(gfile);
  GdkContentProvider* content = gdk_content_provider_new_union(parts, G_N_ELEMENTS(parts));

  if (drag_) {
    g_signal_handlers_disconnect_by_data(drag_, this);
    g_object_unref(drag_);
    drag_ = nullptr;
  }
  drag_ = gdk_drag_begin(gtk_native_get_surface(GTK_NATIVE(root)), gdk_event_get_device(event), content,
                         GDK_ACTION_COPY, 0, 0);
  g_object_unref(content);
  if (!drag_) {
    nativeLog("[FileDrag] ❌ the drag could not start");
    sendEnded(std::nullopt);
    return;
  }
  ended_ = false;
  lastPoint_.reset();
  lastReportAt_ = 0;
  g_signal_connect(drag_, "dnd-finished", G_CALLBACK(dropPerformedThunk), this);
  g_signal_connect(drag_, "cancel", G_CALLBACK(cancelThunk), this);
  if (GdkPaintable* picture = dragPicture(GTK_WIDGET(view_), file, pendingPreview_)) {
    const double w = gdk_paintable_get_intrinsic_width(picture);
    const double h = gdk_paintable_get_intrinsic_height(picture);
    gtk_drag_icon_set_from_paintable(drag_, picture, int(w / 2), int(h / 2));
    g_object_unref(picture);
  }
  nativeLog("[FileDrag] ✅ drag started: " + file.filename().string() + " (event " +
            std::to_string(int(gdk_event_get_event_type(event))) + ", from " + G_OBJECT_TYPE_NAME(view_) + ")");
}

FileDragOut::PagePoint FileDragOut::toPage(double x, double y) const {
  const double zoom = webkit_web_view_get_zoom_level(view_);
  return zoom > 0 ? PagePoint{x / zoom, y / zoom} : PagePoint{x, y};
}

void FileDragOut::motionThunk(GtkDropControllerMotion* motion, double x, double y, gpointer data) {
  auto* self = static_cast<FileDragOut*>(data);
  GdkDrop* drop = gtk_drop_controller_motion_get_drop(motion);
  if (self->drag_ && drop && gdk_drop_get_drag(drop) == self->drag_) self->onMotion(x, y);
}

void FileDragOut::leaveThunk(GtkDropControllerMotion*, gpointer data) {
  auto* self = static_cast<FileDragOut*>(data);
  if (self->drag_ && !self->ended_) self->onLeave();
}

void FileDragOut::onMotion(double x, double y) {
  lastPoint_ = toPage(x, y);
  const std::int64_t now = g_get_monotonic_time();
  if (lastReportAt_ != 0 && now - lastReportAt_ < std::int64_t(kMoveReportInterval * 1e6)) return;
  lastReportAt_ = now;
  platform::callPage(page_, platform::pageFunctionCall(
                                kMovedFunction, {nlohmann::json{{"x", lastPoint_->x}, {"y", lastPoint_->y}}}));
}

void FileDragOut::onLeave() {
  lastPoint_.reset();
  lastReportAt_ = g_get_monotonic_time();
  platform::callPage(page_, platform::pageFunctionCall(kMovedFunction, {nullptr}));
}

gboolean FileDragOut::acceptThunk(GtkDropTarget*, GdkDrop* drop, gpointer data) {
  auto* self = static_cast<FileDragOut*>(data);
  return self->drag_ && gdk_drop_get_drag(drop) == self->drag_;
}

gboolean FileDragOut::dropThunk(GtkDropTarget*, const GValue*, double x, double y, gpointer data) {
  // A drop of our own file on the page: the page decides what it means.
  static_cast<FileDragOut*>(data)->lastPoint_ = static_cast<FileDragOut*>(data)->toPage(x, y);
  return TRUE;
}

void FileDragOut::dropPerformedThunk(GdkDrag* drag, gpointer data) {
  static_cast<FileDragOut*>(data)->finish(gdk_drag_get_selected_action(drag));
}

void FileDragOut::cancelThunk(GdkDrag*, GdkDragCancelReason, gpointer data) {
  static_cast<FileDragOut*>(data)->finish(static_cast<GdkDragAction>(0));
}

void FileDragOut::finish(GdkDragAction action) {
  if (ended_ || !drag_) return;
  ended_ = true;
  const int operation = (action & GDK_ACTION_COPY) ? 1 : 0;
  const std::optional<PagePoint> point = lastPoint_;
  if (point) {
    nativeLog("[FileDrag] let go over the app at " + std::to_string(static_cast<long long>(point->x)) + "," +
              std::to_string(static_cast<long long>(point->y)) + " (operation " + std::to_string(operation) + ")");
  } else {
    nativeLog("[FileDrag] ended (operation " + std::to_string(operation) + ")");
  }
  // A drag that went nowhere slides back to where it came from.
  GdkDrag* drag = std::exchange(drag_, nullptr);
  g_signal_handlers_disconnect_by_data(drag, this);
  gdk_drag_drop_done(drag, operation != 0 || point.has_value());
  g_idle_add_once([](gpointer d) { g_object_unref(d); }, drag);
  sendEnded(point);
}

}  // namespace orvik
