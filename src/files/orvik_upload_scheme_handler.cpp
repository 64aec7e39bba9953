#include "files/orvik_upload_scheme_handler.h"

#include <array>
#include <charconv>

#include <nlohmann/json.hpp>

#include "core/file_security.h"
#include "files/file_transfer_messages.h"
#include "files/thumbnails.h"
#include "files/transcoding_uploads.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr const char* kAllowedMethods = "POST, OPTIONS";
constexpr const char* kAllowedHeaders =
    "Content-Type, X-File-Name, X-Mime-Type, X-Total-Size, X-Max-Video-Bitrate, X-Reduce";

constexpr std::array<std::string_view, 7> kImageExtensions = {"jpg", "jpeg", "png", "gif", "webp", "heic", "svg"};
constexpr std::array<std::string_view, 7> kVideoExtensions = {"mp4", "mov", "avi", "webm", "mkv", "m4v", "3gp"};

// The fixed bodies, written once.
constexpr const char* kInvalidURL = R"({"error":"invalid url"})";
constexpr const char* kExpectedForm = "{\"error\":\"invalid url \xE2\x80\x94 expected orvikupload://action/transferId\"}";
constexpr const char* kUnknownAction = R"({"error":"unknown action"})";
constexpr const char* kOriginRefused = R"({"error":"origin not allowed"})";
constexpr const char* kNotAllowed = R"({"error":"file type not allowed"})";
constexpr const char* kStarted = R"({"status":"started"})";
constexpr const char* kEmptyChunk = R"({"error":"empty chunk"})";
constexpr const char* kNoTransfer = R"({"error":"no active transfer"})";
constexpr const char* kOk = R"({"status":"ok"})";
constexpr const char* kFinishNil = R"({"error":"finish returned nil"})";
constexpr const char* kNoTranscodeJob = R"({"error":"no transcode job"})";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<std::string> findHeader(const UploadHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A "%" without two hex digits after it stays as it is.
std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The lower-cased text after the last "." of the name's last component.
std::string extensionOf(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const std::size_t dot = last.rfind('.');
  if (dot == std::string_view::npos) return {};
  return lowered(last.substr(dot + 1));
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view value) {
  for (std::string_view item : list) {
    if (item == value) return true;
  }
  return false;
}

std::string quoted(std::string_view text) {
  return nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::optional<std::string> UploadRequest::header(std::string_view name) const { return findHeader(headers, name); }
std::optional<std::string> UploadResponse::header(std::string_view name) const { return findHeader(headers, name); }

UploadRoute parseUploadURL(std::string_view url) {
  UploadRoute route;
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return route;
  std::string_view rest = url.substr(colon + 1);
  if (const std::size_t end = rest.find_first_of("?#"); end != std::string_view::npos) rest = rest.substr(0, end);
  std::string_view path = rest;
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    std::string_view authority = slash == std::string_view::npos ? rest : rest.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    // Neither user information nor a port belongs in these addresses; the
    // host is what follows the last "@" and precedes a port.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (const std::size_t port = authority.rfind(':'); port != std::string_view::npos) {
      authority = authority.substr(0, port);
    }
    route.action = percentDecoded(authority);
  }
  // Split first, then decode: an encoded "/" stays inside its component.
  std::size_t at = 0;
  while (at <= path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::string_view component =
        path.substr(at, slash == std::string_view::npos ? std::string_view::npos : slash - at);
    if (!component.empty()) {
      route.id = percentDecoded(component);
      break;
    }
    if (slash == std::string_view::npos) break;
    at = slash + 1;
  }
  return route;
}

std::string jsonPair(std::string_view key, std::string_view value) { return quoted(key) + ": " + quoted(value); }

std::string jsonErrorBody(std::string_view text) { return "{\"error\":" + quoted(text) + "}"; }

std::optional<std::int64_t> parseDecimalHeader(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

OrvikUploadSchemeHandler::OrvikUploadSchemeHandler(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {
  if (!collaborators_.imageThumbnail) collaborators_.imageThumbnail = makeImageThumbnail;
  if (!collaborators_.videoThumbnail) collaborators_.videoThumbnail = makeVideoThumbnail;
}

OrvikUploadSchemeHandler::~OrvikUploadSchemeHandler() = default;

UploadResponse OrvikUploadSchemeHandler::jsonResponse(int status, std::string body) {
  UploadResponse response;
  response.status = status;
  response.headers = {{"Content-Type", status == 204 ? "text/plain" : "application/json"},
                      {"Content-Length", std::to_string(body.size())},
                      {"Access-Control-Allow-Origin", "*"},
                      {"Access-Control-Allow-Methods", kAllowedMethods},
                      {"Access-Control-Allow-Headers", kAllowedHeaders}};
  response.body = std::move(body);
  return response;
}

UploadResponse OrvikUploadSchemeHandler::dataResponse(int status, std::string bytes, std::string contentType) {
  UploadResponse response;
  response.status = status;
  response.headers = {{"Content-Type", std::move(contentType)},
                      {"Content-Length", std::to_string(bytes.size())},
                      {"Access-Control-Allow-Origin", "*"},
                      {"Access-Control-Allow-Methods", kAllowedMethods},
                      {"Access-Control-Allow-Headers", kAllowedHeaders}};
  response.body = std::move(bytes);
  return response;
}

OrvikUploadSchemeHandler::TaskId OrvikUploadSchemeHandler::startTask(UploadRequest request, BodyReader readBody,
                                                                     ReplySink reply) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const TaskId task = nextTask_++;
  {
    std::lock_guard<std::mutex> guard(lock_);
    activeTasks_.emplace(task, std::move(reply));
  }
  auto pending = std::make_shared<Pending>();
  pending->task = task;
  if (request.url) pending->route = parseUploadURL(*request.url);
  const std::string method = lowered(request.method);
  pending->needsBody = request.url && method != "options" && pending->route.id &&
                       (pending->route.action == "chunk" || pending->route.action == "transcodechunk");
  pending->request = std::move(request);
  queue_.push_back(pending);
  if (pending->needsBody) {
    if (readBody) {
      readBody([weak = weak_from_this(), pending](UploadBody body) {
        pending->body = std::move(body);
        if (auto self = weak.lock()) self->actOnReadyRequests();
      });
    } else {
      pending->body = UploadBody{};
    }
  }
  actOnReadyRequests();
  return task;
}

void OrvikUploadSchemeHandler::stopTask(TaskId task) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::lock_guard<std::mutex> guard(lock_);
  activeTasks_.erase(task);
}

std::size_t OrvikUploadSchemeHandler::activeTaskCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return activeTasks_.size();
}

void OrvikUploadSchemeHandler::actOnReadyRequests() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // A body that arrives while an earlier request acts is picked up by the
  // loop already running.
  if (acting_) return;
  acting_ = true;
  while (!queue_.empty()) {
    std::shared_ptr<Pending> front = queue_.front();
    if (front->needsBody && !front->body) break;
    queue_.pop_front();
    route(*front);
  }
  acting_ = false;
}

void OrvikUploadSchemeHandler::respond(TaskId task, UploadResponse response) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  ReplySink sink;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = activeTasks_.find(task);
    if (found == activeTasks_.end()) return;  // stopped or already answered
    sink = std::move(found->second);
    activeTasks_.erase(found);
  }
  if (sink) sink(std::move(response));
}

std::function<void(UploadResponse)> OrvikUploadSchemeHandler::replyLater(TaskId task) {
  return [weak = weak_from_this(), task](UploadResponse response) {
    platform::mainQueue().post([weak, task, response = std::move(response)]() mutable {
      if (auto self = weak.lock()) self->respond(task, std::move(response));
    });
  };
}

void OrvikUploadSchemeHandler::route(Pending& pending) {
  const TaskId task = pending.task;
  const UploadRequest& request = pending.request;
  if (!request.url) {
    respond(task, jsonResponse(400, kInvalidURL));
    return;
  }
  const std::string method = lowered(request.method);
  if (method == "options") {
    respond(task, jsonResponse(204, ""));
    return;
  }
  // The page's own origin only: a frame of another site must not write into
  // the documents folder or start transcodings.
  if (const auto origin = request.header("Origin");
      origin && !(collaborators_.isTrustedOrigin && collaborators_.isTrustedOrigin(*origin))) {
    respond(task, jsonResponse(403, kOriginRefused));
    return;
  }
  const UploadRoute& route = pending.route;
  if (route.action.empty() || !route.id) {
    respond(task, jsonResponse(400, kExpectedForm));
    return;
  }
  const std::string& id = *route.id;
  const std::string& action = route.action;
  auto reply = [weak = weak_from_this(), task](UploadResponse response) {
    if (auto self = weak.lock()) self->respond(task, std::move(response));
  };
  if (action == "start") {
    handleStart(task, id, request);
  } else if (action == "chunk") {
    handleChunk(task, id, *pending.body);
  } else if (action == "end") {
    handleEnd(task, id);
  } else if (action == "transcodestart" || action == "transcodechunk" || action == "transcodeprogress" ||
             action == "transcodeend") {
    TranscodingUploads* transcoding = collaborators_.transcoding.get();
    if (!transcoding) {
      respond(task, jsonResponse(404, kNoTranscodeJob));
    } else if (action == "transcodestart") {
      transcoding->start(id, request, reply);
    } else if (action == "transcodechunk") {
      transcoding->chunk(id, *pending.body, reply);
    } else if (action == "transcodeprogress") {
      transcoding->progress(id, reply);
    } else {
      transcoding->end(id, reply);
    }
  } else {
    respond(task, jsonResponse(400, kUnknownAction));
  }
}

void OrvikUploadSchemeHandler::handleStart(TaskId task, const std::string& id, const UploadRequest& request) {
  const std::string fileName = request.header("X-File-Name").value_or(id + ".bin");
  const std::string mimeType = request.header("X-Mime-Type").value_or("application/octet-stream");
  const std::int64_t totalSize = parseDecimalHeader(request.header("X-Total-Size").value_or("0")).value_or(0);

  // Judged on the name as it will be saved.
  const std::string extension = extensionOf(FileSecurity::sanitizedFileName(fileName));
  if (blockedFileExtensions().contains(extension)) {
    respond(task, jsonResponse(403, kNotAllowed));
    return;
  }
  TransferStatus status;
  if (contains(kImageExtensions, extension)) {
    status = collaborators_.images.start(id, fileName);
  } else if (contains(kVideoExtensions, extension)) {
    status = collaborators_.videos.start(id, mimeType, totalSize);
  } else {
    status = collaborators_.documents.start(id, fileName);
  }
  if (status != TransferStatus::ok) {
    respond(task, jsonResponse(500, jsonErrorBody(describe(status))));
    return;
  }
  respond(task, jsonResponse(200, kStarted));
}

void OrvikUploadSchemeHandler::handleChunk(TaskId task, const std::string& id, const UploadBody& body) {
  if (!body.complete) {
    // Writing what did arrive would leave a hole in the file that a later
    // "ok" would hide; the transfer fails and its end reports it.
    if (collaborators_.images.isOpen(id)) {
      collaborators_.images.fail(id);
    } else if (collaborators_.videos.isOpen(id)) {
      collaborators_.videos.fail(id);
    } else if (collaborators_.documents.isOpen(id)) {
      collaborators_.documents.fail(id);
    }
    respond(task, jsonResponse(400, jsonErrorBody("incomplete body: " + body.error)));
    return;
  }
  if (body.bytes.empty()) {
    respond(task, jsonResponse(400, kEmptyChunk));
    return;
  }
  TransferStatus status;
  if (collaborators_.images.isOpen(id)) {
    status = collaborators_.images.append(id, body.bytes);
  } else if (collaborators_.videos.isOpen(id)) {
    status = collaborators_.videos.append(id, body.bytes);
  } else if (collaborators_.documents.isOpen(id)) {
    status = collaborators_.documents.append(id, body.bytes);
  } else {
    respond(task, jsonResponse(404, kNoTransfer));
    return;
  }
  if (status != TransferStatus::ok) {
    respond(task, jsonResponse(500, jsonErrorBody(describe(status))));
    return;
  }
  respond(task, jsonResponse(200, kOk));
}

void OrvikUploadSchemeHandler::handleEnd(TaskId task, const std::string& id) {
  TransferFinish done;
  if (collaborators_.images.isOpen(id)) {
    done = collaborators_.images.finish(id);
  } else if (collaborators_.videos.isOpen(id)) {
    done = collaborators_.videos.finish(id);
  } else if (collaborators_.documents.isOpen(id)) {
    done = collaborators_.documents.finish(id);
  } else {
    respond(task, jsonResponse(404, kNoTransfer));
    return;
  }
  if (done.status != TransferStatus::ok) {
    respond(task, jsonResponse(500, jsonErrorBody(describe(done.status))));
    return;
  }
  if (done.file.empty()) {
    respond(task, jsonResponse(500, kFinishNil));
    return;
  }
  collaborators_.background.post(
      [weak = weak_from_this(), file = done.file, extension = extensionOf(done.file.string()), id, task] {
        if (auto self = weak.lock()) self->answerUploadEnd(file, extension, id, task);
      });
}

void OrvikUploadSchemeHandler::answerUploadEnd(const fs::path& file, const std::string& extension,
                                               const std::string& id, TaskId task) {
  const ThumbnailMaker& maker =
      contains(kVideoExtensions, extension) ? collaborators_.videoThumbnail : collaborators_.imageThumbnail;
  const std::optional<fs::path> thumbnail = maker ? maker(file, id) : std::nullopt;
  const std::array<std::pair<std::string_view, std::string>, 4> members = {{
      {"transferId", id},
      {"path", file.string()},
      {"localUrl", FileTransferMessages::localUrl(file)},
      {"thumbUrl", thumbnail ? FileTransferMessages::localUrl(*thumbnail) : std::string()},
  }};
  std::string body = "{\n  ";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i > 0) body += ",\n  ";
    body += jsonPair(members[i].first, members[i].second);
  }
  body += "\n}";
  replyLater(task)(jsonResponse(200, std::move(body)));
}

}  // namespace orvik
