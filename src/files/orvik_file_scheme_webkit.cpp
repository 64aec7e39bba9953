#include "files/orvik_file_scheme_webkit.h"

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <cerrno>
#include <unistd.h>

#include "platform/local_schemes.h"

namespace orvik {
namespace {

// ---- A GInputStream over a span of an open file: WebKit reads the body
// piece by piece (GIO runs the reads on its worker threads), so a
// multi-gigabyte video costs no more memory than the pieces in flight.

struct FileSpanStream {
  GInputStream parent;
  std::shared_ptr<OpenFile>* file;
  guint64 offset;
  guint64 remaining;
};

struct FileSpanStreamClass {
  GInputStreamClass parent_class;
};

G_DEFINE_TYPE(FileSpanStream, file_span_stream, G_TYPE_INPUT_STREAM)

gssize fileSpanRead(GInputStream* stream, void* buffer, gsize count, GCancellable* cancellable, GError** error) {
  auto* self = reinterpret_cast<FileSpanStream*>(stream);
  if (g_cancellable_set_error_if_cancelled(cancellable, error)) return -1;
  const gsize wanted = static_cast<gsize>(std::min<guint64>(count, self->remaining));
  if (wanted == 0) return 0;
  ssize_t got;
  do {
    got = ::pread((*self->file)->fd(), buffer, wanted, static_cast<off_t>(self->offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    const int code = errno;
    g_set_error_literal(error, G_IO_ERROR, g_io_error_from_errno(code), g_strerror(code));
    return -1;
  }
  if (got == 0) {
    // The file shrank after the response promised its length.
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PARTIAL_INPUT, "file ended early");
    return -1;
  }
  self->offset += static_cast<guint64>(got);
  self->remaining -= static_cast<guint64>(got);
  return got;
}

void fileSpanFinalize(GObject* object) {
  auto* self = reinterpret_cast<FileSpanStream*>(object);
  delete self->file;
  self->file = nullptr;
  G_OBJECT_CLASS(file_span_stream_parent_class)->finalize(object);
}

void file_span_stream_class_init(FileSpanStreamClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = fileSpanFinalize;
  G_INPUT_STREAM_CLASS(klass)->read_fn = fileSpanRead;
}

void file_span_stream_init(FileSpanStream* self) {
  self->file = nullptr;
  self->offset = 0;
  self->remaining = 0;
}

GInputStream* newFileSpanStream(std::shared_ptr<OpenFile> file, guint64 offset, guint64 length) {
  auto* self = static_cast<FileSpanStream*>(g_object_new(file_span_stream_get_type(), nullptr));
  self->file = new std::shared_ptr<OpenFile>(std::move(file));
  self->offset = offset;
  self->remaining = length;
  return G_INPUT_STREAM(self);
}

GInputStream* newMemoryStream(std::string bytes) {
  auto* owned = new std::string(std::move(bytes));
  GBytes* data = g_bytes_new_with_free_func(owned->data(), owned->size(),
                                            [](gpointer text) { delete static_cast<std::string*>(text); }, owned);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(data);
  g_bytes_unref(data);
  return stream;
}

GQuark schemeErrorQuark() { return g_quark_from_static_string("orvik-file-scheme-error-quark"); }

OrvikFileSchemeHandler::Request requestFrom(WebKitURISchemeRequest* request) {
  OrvikFileSchemeHandler::Request value;
  if (const char* method = webkit_uri_scheme_request_get_http_method(request)) value.method = method;
  if (const char* uri = webkit_uri_scheme_request_get_uri(request)) value.url = uri;
  if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
    soup_message_headers_foreach(
        headers,
        [](const char* name, const char* text, gpointer data) {
          static_cast<OrvikFileSchemeHandler::Headers*>(data)->emplace_back(name, text);
        },
        &value.headers);
  }
  return value;
}

void finish(WebKitURISchemeRequest* request, OrvikFileSchemeHandler::Result result) {
  if (!result.response) {
    GError* error = g_error_new_literal(schemeErrorQuark(), static_cast<int>(result.error), result.errorText.c_str());
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  OrvikFileSchemeHandler::Response& response = *result.response;
  const auto length = static_cast<gint64>(response.bodyLength());
  GInputStream* body = response.file ? newFileSpanStream(std::move(response.file), response.offset, response.length)
                                     : newMemoryStream(std::move(response.bytes));
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

void answerOrvikFileRequest(const std::shared_ptr<OrvikFileSchemeHandler>& handler, WebKitURISchemeRequest* request) {
  g_object_ref(request);
  handler->startTask(requestFrom(request), [request](OrvikFileSchemeHandler::Result result) {
    finish(request, std::move(result));
    g_object_unref(request);
  });
}

std::function<void(WebKitURISchemeRequest*)> orvikFileRequestHandler(std::shared_ptr<OrvikFileSchemeHandler> handler) {
  return [handler = std::move(handler)](WebKitURISchemeRequest* request) { answerOrvikFileRequest(handler, request); };
}

void registerOrvikFileScheme(WebKitWebContext* context, std::shared_ptr<OrvikFileSchemeHandler> handler) {
  platform::registerLocalScheme(context, platform::kOrvikFileScheme, orvikFileRequestHandler(std::move(handler)));
}

}  // namespace orvik
