// WebKitGTK glue of the orvikupload:// handler: a WebKitURISchemeRequest
// becomes an UploadRequest, its body stream is read asynchronously to its
// end (in steps of kBodyReadStep bytes), and the handler's reply goes back as
// a WebKitURISchemeResponse with its status and headers (Content-Type among
// them, since set_content_type alone does not reach fetch()).
//
// A body is incomplete when its stream fails, or when it ends short of (or
// runs past) the Content-Length its request announced.
//
// WebKitGTK tells a scheme handler nothing when the page gives a request up:
// such a request is still answered, and WebKit drops the answer.
//
// THREAD-SAFETY: main queue (WebKit calls scheme handlers there, and GIO
// delivers the body reads there).
#pragma once

#include <functional>
#include <memory>

#include "files/orvik_upload_scheme_handler.h"

namespace orvik::platform {
class WorkerPool;
}  // namespace orvik::platform

typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;
typedef struct _WebKitWebContext WebKitWebContext;

namespace orvik {

// Answers one request with `handler`; the request is kept alive until then.
void answerOrvikUploadRequest(const std::shared_ptr<OrvikUploadSchemeHandler>& handler,
                              WebKitURISchemeRequest* request);

// What the program's web session answers "orvikupload" with
// (WebSession::setSchemeHandler, done by the composition root).
std::function<void(WebKitURISchemeRequest*)> orvikUploadRequestHandler(
    std::shared_ptr<OrvikUploadSchemeHandler> handler);

// Registers "orvikupload" on a context of our own (tests, benchmarks) through
// platform::registerLocalScheme, as the program's web session does.
void registerOrvikUploadScheme(WebKitWebContext* context, std::shared_ptr<OrvikUploadSchemeHandler> handler);

class TranscodingUploads;

// The program's orvikupload:// scheme with the queues and jobs it owns:
// thumbnails on "com.orvik.uploadThumbnails", transcodings on
// "com.orvik.transcode", temporary files in TranscodingUploads'
// default folder. Made by the composition root.
class OrvikUploadScheme {
 public:
  OrvikUploadScheme(DocTransferManager& documents, ImgTransferManager& images, VideoTransferManager& videos,
                    OrvikUploadSchemeHandler::OriginCheck isTrustedOrigin);
  ~OrvikUploadScheme();

  std::function<void(WebKitURISchemeRequest*)> requestHandler() const { return orvikUploadRequestHandler(handler_); }

 private:
  std::unique_ptr<platform::WorkerPool> thumbnails_;
  std::unique_ptr<platform::WorkerPool> transcodes_;
  std::shared_ptr<TranscodingUploads> transcoding_;
  std::shared_ptr<OrvikUploadSchemeHandler> handler_;
};

}  // namespace orvik
