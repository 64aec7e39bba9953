// OrvikUploadSchemeHandler answers the page's POST requests to
// "orvikupload://<action>/<id>": plain uploads written through the three
// transfer managers (start, chunk, end, answered at the end with the saved
// file's path, its orvikfile:// address and its thumbnail's), and the
// transcoding uploads of TranscodingUploads (transcodestart, transcodechunk,
// transcodeprogress, transcodeend). Every reply carries permissive CORS
// headers, because the page's origin is not the scheme's. The logic works on
// our own small request and response values; upload_scheme_webkit.h turns
// WebKit's scheme requests into them and reads their bodies.
//
// Requests act in the order they arrived, one after the other, even though
// their bodies are read asynchronously: a request waits in the handler's
// queue until every request before it has acted. A body is read to the end
// of its stream; a body that could not be read whole is refused, never
// written in part.
//
// Every task gets at most one reply. stopTask forgets a task (the page gave
// the request up): what it started still runs to its end, and its reply is
// dropped.
//
// The handler is owned by a std::shared_ptr: thumbnails and transcodings in
// flight hold it weakly.
//
// THREAD-SAFETY: startTask, stopTask and every reply on the main queue.
// Thumbnails are made on the background queue given; their replies hop back
// to the main queue. The task table is guarded by a lock.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/transfer_managers.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class TranscodingUploads;

using UploadHeaders = std::vector<std::pair<std::string, std::string>>;

struct UploadRequest {
  std::string method;              // empty when the request has none
  std::optional<std::string> url;  // none when the request has no URL
  UploadHeaders headers;
  // The first header of that name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

// A request body as its reader delivers it: `complete` is false when the
// stream failed or ended before the length its request announced.
struct UploadBody {
  std::string bytes;
  bool complete = true;
  std::string error;  // why it is incomplete
};

struct UploadResponse {
  int status = 200;
  UploadHeaders headers;  // in the order built
  std::string body;
  std::optional<std::string> header(std::string_view name) const;
};

// The parts of an "orvikupload:" URL: the host is the action, the first
// non-empty path component the id; each is percent-decoded after the URL is
// split, so "%2F" stays inside its component. Query and fragment are ignored.
struct UploadRoute {
  std::string action;
  std::optional<std::string> id;  // none when no path component is left
};
UploadRoute parseUploadURL(std::string_view url);

// `"key": "value"`, each escaped as a JSON string: backslash, double quote
// and every control character below 0x20 (line feed, carriage return and
// tab as \n, \r, \t); bytes that are not UTF-8 become U+FFFD.
std::string jsonPair(std::string_view key, std::string_view value);
// {"error":"<text>"} with the text escaped as in jsonPair.
std::string jsonErrorBody(std::string_view text);

// "X-Total-Size" and similar: an optional sign and decimal digits, nothing
// else, within 64 bits; none for anything else.
std::optional<std::int64_t> parseDecimalHeader(std::string_view text);

class OrvikUploadSchemeHandler : public std::enable_shared_from_this<OrvikUploadSchemeHandler> {
 public:
  using TaskId = std::uint64_t;
  // Sends the one reply of a task. Called on the main queue.
  using ReplySink = std::function<void(UploadResponse response)>;
  // Starts reading a request's body; `done` runs once, on the main queue.
  using BodyReader = std::function<void(std::function<void(UploadBody body)> done)>;
  // Whether a request carrying an Origin header from `origin` is answered.
  using OriginCheck = std::function<bool(std::string_view origin)>;
  // Makes a thumbnail of a saved file under a name (the transfer id); none
  // when it cannot. Called on the background queue.
  using ThumbnailMaker =
      std::function<std::optional<std::filesystem::path>(const std::filesystem::path& source, std::string_view name)>;

  struct Collaborators {
    DocTransferManager& documents;
    ImgTransferManager& images;
    VideoTransferManager& videos;
    platform::TaskQueue& background;  // thumbnails
    OriginCheck isTrustedOrigin;
    std::shared_ptr<TranscodingUploads> transcoding;  // none: the transcode actions answer 404
    ThumbnailMaker imageThumbnail;              // empty: the real thumbnailers
    ThumbnailMaker videoThumbnail;
  };

  static constexpr std::size_t kBodyReadStep = 65536;

  explicit OrvikUploadSchemeHandler(Collaborators collaborators);
  ~OrvikUploadSchemeHandler();
  OrvikUploadSchemeHandler(const OrvikUploadSchemeHandler&) = delete;
  OrvikUploadSchemeHandler& operator=(const OrvikUploadSchemeHandler&) = delete;

  // Takes one request; `readBody` is called at once when the action needs
  // the body. `reply` receives the one answer, unless the task is stopped.
  TaskId startTask(UploadRequest request, BodyReader readBody, ReplySink reply);
  void stopTask(TaskId task);
  // Tasks started and not yet answered or stopped.
  std::size_t activeTaskCount() const;

  // The reply builders: JSON (Content-Type "application/json", or
  // "text/plain" for 204) and raw bytes of a given type, with the CORS
  // headers.
  static UploadResponse jsonResponse(int status, std::string body);
  static UploadResponse dataResponse(int status, std::string bytes, std::string contentType);

  // Answers `task` when it is still registered, then forgets it. Main queue.
  void respond(TaskId task, UploadResponse response);
  // A reply function for `task` that holds the handler weakly and may be
  // called from any thread: the reply is sent on the main queue.
  std::function<void(UploadResponse)> replyLater(TaskId task);

 private:
  struct Pending {
    TaskId task = 0;
    UploadRequest request;
    UploadRoute route;
    bool needsBody = false;
    std::optional<UploadBody> body;
  };

  void actOnReadyRequests();
  void route(Pending& pending);
  void handleStart(TaskId task, const std::string& id, const UploadRequest& request);
  void handleChunk(TaskId task, const std::string& id, const UploadBody& body);
  void handleEnd(TaskId task, const std::string& id);
  void answerUploadEnd(const std::filesystem::path& file, const std::string& extension, const std::string& id,
                       TaskId task);

  Collaborators collaborators_;

  mutable std::mutex lock_;  // guards activeTasks_
  std::map<TaskId, ReplySink> activeTasks_;

  // Main queue only.
  TaskId nextTask_ = 1;
  std::deque<std::shared_ptr<Pending>> queue_;
  bool acting_ = false;
};

}  // namespace orvik
