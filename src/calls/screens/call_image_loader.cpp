#include "calls/screens/call_image_loader.h"

#include <gdk/gdk.h>
#include <libsoup/soup.h>

#include "calls/screens/call_avatar_content.h"

namespace orvik {
namespace {

struct Request {
  GCancellable* cancellable = g_cancellable_new();
  CallImageLoader::Done done;
  ~Request() { g_object_unref(cancellable); }

  void finish(GdkTexture* texture) {
    if (!g_cancellable_is_cancelled(cancellable) && done) {
      done(texture ? Glib::wrap(texture, true) : Glib::RefPtr<Gdk::Texture>());
    }
  }
};

// On a worker thread: bytes to texture.
void decode(GTask* task, gpointer, gpointer bytes, GCancellable*) {
  GError* error = nullptr;
  GdkTexture* texture = gdk_texture_new_from_bytes(static_cast<GBytes*>(bytes), &error);
  if (texture) {
    g_task_return_pointer(task, texture, g_object_unref);
  } else {
    g_task_return_error(task, error);
  }
}

void decoded(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Request> request(static_cast<Request*>(data));
  auto* texture = static_cast<GdkTexture*>(g_task_propagate_pointer(G_TASK(result), nullptr));
  request->finish(texture);
  if (texture) g_object_unref(texture);
}

void received(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Request> request(static_cast<Request*>(data));
  SoupSession* session = SOUP_SESSION(source);
  SoupMessage* message = soup_session_get_async_result_message(session, result);
  GBytes* bytes = soup_session_send_and_read_finish(session, result, nullptr);
  const bool ok = bytes && message && soup_message_get_status(message) == SOUP_STATUS_OK &&
                  g_bytes_get_size(bytes) > 0 && g_bytes_get_size(bytes) <= CallImageLoader::kMaxBytes;
  if (!ok) {
    if (bytes) g_bytes_unref(bytes);
    request->finish(nullptr);
    return;
  }
  GCancellable* cancellable = request->cancellable;
  GTask* task = g_task_new(nullptr, cancellable, decoded, request.release());
  g_task_set_task_data(task, bytes, reinterpret_cast<GDestroyNotify>(g_bytes_unref));
  g_task_run_in_thread(task, decode);
  g_object_unref(task);
}

}  // namespace

CallImageLoader& CallImageLoader::shared() {
  static auto* loader = new CallImageLoader();
  return *loader;
}

CallImageLoader::CallImageLoader() : session_(soup_session_new_with_options("timeout", 20, nullptr)) {}

CallImageLoader::~CallImageLoader() { g_object_unref(session_); }

CallImageLoader::Handle CallImageLoader::load(const std::string& url, Done done) {
  auto* request = new Request;
  request->done = std::move(done);
  Handle handle(request->cancellable, [cancellable = g_object_ref(request->cancellable)](void*) {
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
  });
  SoupMessage* message = isLoadableImageURL(url) ? soup_message_new("GET", url.c_str()) : nullptr;
  if (!message) {
    // Answered later, like every load.
    g_idle_add_once([](gpointer data) {
      std::unique_ptr<Request> refused(static_cast<Request*>(data));
      refused->finish(nullptr);
    }, request);
    return handle;
  }
  soup_session_send_and_read_async(session_, message, G_PRIORITY_DEFAULT, request->cancellable, received, request);
  g_object_unref(message);
  return handle;
}

}  // namespace orvik
