// Loads the call screens' pictures (avatars, the subscriber badge) from
// http and https addresses with libsoup, decodes them on a worker thread
// and hands the texture back on the main thread. Anything else (a local
// file, a data address) is refused without a request. A load ends when the
// handle it returned is dropped: its completion never runs after that.
//
//   loadHandle_ = CallImageLoader::shared().load(url, [this](auto texture) { show(texture); });
//
// THREAD-SAFETY: main thread only; the session belongs to the main context.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gdkmm/texture.h>

typedef struct _SoupSession SoupSession;

namespace orvik {

class CallImageLoader {
 public:
  // Null on any failure: a refused address, an HTTP status other than 200,
  // a body over kMaxBytes, bytes that are no image.
  using Done = std::function<void(Glib::RefPtr<Gdk::Texture>)>;
  using Handle = std::shared_ptr<void>;
  static constexpr std::size_t kMaxBytes = 8 * 1024 * 1024;

  static CallImageLoader& shared();
  CallImageLoader();
  ~CallImageLoader();
  CallImageLoader(const CallImageLoader&) = delete;
  CallImageLoader& operator=(const CallImageLoader&) = delete;

  // `done` runs once, later, on the main thread, unless the handle went first.
  [[nodiscard]] Handle load(const std::string& url, Done done);

 private:
  SoupSession* session_;
};

}  // namespace orvik
