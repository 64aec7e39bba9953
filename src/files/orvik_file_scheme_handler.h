// OrvikFileSchemeHandler answers the page's loads of "orvikfile://" + an
// absolute path: local files served as HTTP responses, with byte ranges for
// media elements and CORS headers because the page's origin is not the
// scheme's. The logic here works on our own small request and response
// values; orvik_file_scheme_webkit.h turns WebKit's scheme requests into
// them.
//
// What is served is limited by FileAccessPolicy (checked on the opened
// file's real path), and only the requested range is read: a body up to
// kInMemoryBodyLimit is read into memory on the read queue, a longer one is
// handed over as an open file and a byte span to stream from. Loads that
// carry an Origin header must come from an origin the web host trusts.
//
// The handler is owned by a std::shared_ptr: a read in flight holds it
// weakly, and a load whose handler has gone is answered as not found.
//
// THREAD-SAFETY: startTask on the main queue; its completion runs once, on
// the main queue. Files are opened and read on the serial queue
// "com.orvik.fileScheme". The static helpers are pure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/file_access_policy.h"
#include "platform/dispatch/serial_queue.h"

namespace orvik {

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
  std::uint64_t length() const { return last - first + 1; }
  bool operator==(const ByteRange&) const = default;
};

// An open file descriptor, closed with the last owner.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile();
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

class OrvikFileSchemeHandler : public std::enable_shared_from_this<OrvikFileSchemeHandler> {
 public:
  enum class SchemeError { invalidURL, fileNotFound, responseCreationFailed };

  using Headers = std::vector<std::pair<std::string, std::string>>;

  struct Request {
    std::string method;  // empty when the load has none
    std::string url;
    Headers headers;
    // The first header of that name, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
  };

  struct Response {
    int status = 200;
    Headers headers;  // in the order built
    // The body: `bytes`, or, when `file` is set, `length` bytes of it from
    // `offset` on.
    std::string bytes;
    std::shared_ptr<OpenFile> file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t bodyLength() const { return file ? length : bytes.size(); }
    std::optional<std::string> header(std::string_view name) const;
  };

  struct Result {
    std::optional<Response> response;  // set unless the load failed
    SchemeError error = SchemeError::fileNotFound;
    std::string errorText;  // the error's description, for the failed load
  };

  using Completion = std::function<void(Result result)>;
  // Whether a load from `origin` (the request's Origin header) is answered.
  using OriginCheck = std::function<bool(std::string_view origin)>;

  static constexpr std::uint64_t kInMemoryBodyLimit = 4 * 1024 * 1024;

  OrvikFileSchemeHandler(FileAccessPolicy& policy, OriginCheck isTrustedOrigin);
  ~OrvikFileSchemeHandler();

  // Answers one load through `completion`, exactly once, on the main queue.
  void startTask(Request request, Completion completion);

  // The whole answer to one request, made synchronously on the calling
  // thread (the read queue in the program; tests and benchmarks call it
  // directly).
  Result serve(const Request& request) const;

  static std::string describe(SchemeError error, std::string_view path);
  // The MIME type for a path's lower-cased extension.
  static std::string mimeType(std::string_view path);
  // A "Range" value against a file of `total` bytes: a byte range inside the
  // file, or none (the whole file is then sent with 200).
  static std::optional<ByteRange> parseRange(std::string_view value, std::uint64_t total);
  // The percent-decoded absolute file path of an "orvikfile:" URL (host,
  // query and fragment ignored); none for anything else.
  static std::optional<std::string> filePath(std::string_view url);

 private:
  static Result failure(SchemeError error, std::string_view path);
  static Response preflightResponse();

  FileAccessPolicy& policy_;
  OriginCheck isTrustedOrigin_;
  std::unique_ptr<platform::SerialQueue> reads_;
};

}  // namespace orvik
