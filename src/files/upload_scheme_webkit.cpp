#include "files/upload_scheme_webkit.h"

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <string>

#include "files/transcoding_uploads.h"
#include "platform/dispatch/worker_pool.h"
#include "platform/local_schemes.h"

namespace orvik {
namespace {

UploadRequest requestFrom(WebKitURISchemeRequest* request) {
  UploadRequest value;
  if (const char* method = webkit_uri_scheme_request_get_http_method(request)) value.method = method;
  if (const char* uri = webkit_uri_scheme_request_get_uri(request)) value.url = uri;
  if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
    soup_message_headers_foreach(
        headers,
        [](const char* name, const char* text, gpointer data) {
          static_cast<UploadHeaders*>(data)->emplace_back(name, text);
        },
        &value.headers);
  }
  return value;
}

// One body being read: the stream, what has arrived, and whom to tell.
struct BodyRead {
  GInputStream* stream = nullptr;
  std::string bytes;
  std::optional<std::int64_t> announced;
  std::function<void(UploadBody)> done;

  ~BodyRead() {
    if (stream) g_object_unref(stream);
  }
};

void finishBody(BodyRead* read, UploadBody body) {
  auto done = std::move(read->done);
  delete read;
  done(std::move(body));
}

void readNextStep(BodyRead* read);

void onStepRead(GObject* source, GAsyncResult* result, gpointer data) {
  auto* read = static_cast<BodyRead*>(data);
  GError* error = nullptr;
  GBytes* step = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
  if (!step) {
    UploadBody body{std::move(read->bytes), false, error ? error->message : "read failed"};
    if (error) g_error_free(error);
    finishBody(read, std::move(body));
    return;
  }
  gsize size = 0;
  const auto* stepBytes = static_cast<const char*>(g_bytes_get_data(step, &size));
  if (size == 0) {
    g_bytes_unref(step);
    UploadBody body{std::move(read->bytes), true, {}};
    if (read->announced && static_cast<std::int64_t>(body.bytes.size()) != *read->announced) {
      body.complete = false;
      body.error = "body of " + std::to_string(body.bytes.size()) + " bytes where " +
                   std::to_string(*read->announced) + " were announced";
    }
    finishBody(read, std::move(body));
    return;
  }
  read->bytes.append(stepBytes, size);
  g_bytes_unref(step);
  readNextStep(read);
}

void readNextStep(BodyRead* read) {
  g_input_stream_read_bytes_async(read->stream, OrvikUploadSchemeHandler::kBodyReadStep, G_PRIORITY_DEFAULT, nullptr,
                                  onStepRead, read);
}

using HeldRequest = std::shared_ptr<WebKitURISchemeRequest>;

OrvikUploadSchemeHandler::BodyReader bodyReaderFor(HeldRequest request, const UploadRequest& value) {
  std::optional<std::int64_t> announced;
  if (const auto length = value.header("Content-Length")) announced = parseDecimalHeader(*length);
  return [request = std::move(request), announced](std::function<void(UploadBody)> done) {
    GInputStream* stream = webkit_uri_scheme_request_get_http_body(request.get());
    if (!stream) {
      UploadBody body;
      if (announced && *announced != 0) {
        body.complete = false;
        body.error = "no body where " + std::to_string(*announced) + " bytes were announced";
      }
      done(std::move(body));
      return;
    }
    auto* read = new BodyRead{stream, {}, announced, std::move(done)};
    readNextStep(read);
  };
}

GInputStream* newMemoryStream(std::string bytes) {
  auto* owned = new std::string(std::move(bytes));
  GBytes* data = g_bytes_new_with_free_func(owned->data(), owned->size(),
                                            [](gpointer text) { delete static_cast<std::string*>(text); }, owned);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(data);
  g_bytes_unref(data);
  return stream;
}

void finish(WebKitURISchemeRequest* request, UploadResponse response) {
  const auto length = static_cast<gint64>(response.body.size());
  GInputStream* body = newMemoryStream(std::move(response.body));
  WebKitURISchemeResponse* answer = webkit_uri_scheme_response_new(body, length);
  g_object_unref(body);
  webkit_uri_scheme_response_set_status(answer, static_cast<guint>(response.status), nullptr);
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  for (const auto& [name, text] : response.headers) soup_message_headers_append(headers, name.c_str(), text.c_str());
  if (const auto type = response.header("Content-Type")) webkit_uri_scheme_response_set_content_type(answer, type->c_str());
  webkit_uri_scheme_response_set_http_headers(answer, headers);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(request, answer);
  g_object_unref(answer);
}

}  // namespace

void answerOrvikUploadRequest(const std::shared_ptr<OrvikUploadSchemeHandler>& handler,
                              WebKitURISchemeRequest* request) {
  UploadRequest value = requestFrom(request);
  g_object_ref(request);
  // Held by the body reader and the reply until both are done with it.
  HeldRequest held(request, [](WebKitURISchemeRequest* r) { g_object_unref(r); });
  OrvikUploadSchemeHandler::BodyReader reader = bodyReaderFor(held, value);
  handler->startTask(std::move(value), std::move(reader),
                     [held](UploadResponse response) { finish(held.get(), std::move(response)); });
}

std::function<void(WebKitURISchemeRequest*)> orvikUploadRequestHandler(
    std::shared_ptr<OrvikUploadSchemeHandler> handler) {
  return [handler = std::move(handler)](WebKitURISchemeRequest* request) { answerOrvikUploadRequest(handler, request); };
}

void registerOrvikUploadScheme(WebKitWebContext* context, std::shared_ptr<OrvikUploadSchemeHandler> handler) {
  platform::registerLocalScheme(context, platform::kOrvikUploadScheme, orvikUploadRequestHandler(std::move(handler)));
}

namespace {
// Transcodings at once: each one keeps the encoder's threads busy.
constexpr int kTranscodeWorkers = 2;
constexpr int kThumbnailWorkers = 2;
}  // namespace

OrvikUploadScheme::OrvikUploadScheme(DocTransferManager& documents, ImgTransferManager& images,
                                     VideoTransferManager& videos,
                                     OrvikUploadSchemeHandler::OriginCheck isTrustedOrigin)
    : thumbnails_(std::make_unique<platform::WorkerPool>("com.orvik.uploadThumbnails", kThumbnailWorkers)),
      transcodes_(std::make_unique<platform::WorkerPool>("com.orvik.transcode", kTranscodeWorkers)) {
  transcoding_ = std::make_shared<TranscodingUploads>(TranscodingUploads::defaultFolder(), *transcodes_,
                                                      VideoTranscoder::transcode);
  handler_ = std::make_shared<OrvikUploadSchemeHandler>(OrvikUploadSchemeHandler::Collaborators{
      documents, images, videos, *thumbnails_, std::move(isTrustedOrigin), transcoding_, {}, {}});
}

OrvikUploadScheme::~OrvikUploadScheme() {
  // A transcoding in flight may take minutes: quitting does not wait for it.
  // It holds nothing of ours but weakly, and the process ends around it.
  (void)transcodes_.release();
  thumbnails_.reset();
}

}  // namespace orvik
