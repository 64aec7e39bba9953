#include "files/orvik_file_scheme_handler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>

#include "platform/dispatch/task_queue.h"
#include "platform/local_schemes.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr const char* kAllowedMethods = "GET, HEAD, OPTIONS";
constexpr const char* kExposedHeaders = "Content-Range, Accept-Ranges, Content-Length";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<std::string> findHeader(const OrvikFileSchemeHandler::Headers& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

// A decimal integer: an optional sign and digits, nothing else.
std::optional<std::int64_t> parseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The open file's path as the kernel resolved it: links and ".." gone, and
// no window between the check and the read for a link to be swapped in.
std::optional<fs::path> realPathOf(int fd) {
  std::error_code ec;
  fs::path real = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
  if (ec) return std::nullopt;
  return real;
}

bool readFully(int fd, std::uint64_t offset, std::uint64_t length, std::string& out) {
  out.resize(length);
  std::uint64_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank under us
    done += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

OpenFile::~OpenFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> OrvikFileSchemeHandler::Request::header(std::string_view name) const {
  return findHeader(headers, name);
}

std::optional<std::string> OrvikFileSchemeHandler::Response::header(std::string_view name) const {
  return findHeader(headers, name);
}

OrvikFileSchemeHandler::OrvikFileSchemeHandler(FileAccessPolicy& policy, OriginCheck isTrustedOrigin)
    : policy_(policy),
      isTrustedOrigin_(std::move(isTrustedOrigin)),
      reads_(std::make_unique<platform::SerialQueue>("com.orvik.fileScheme")) {}

OrvikFileSchemeHandler::~OrvikFileSchemeHandler() = default;

std::string OrvikFileSchemeHandler::describe(SchemeError error, std::string_view path) {
  switch (error) {
    case SchemeError::invalidURL: return "Invalid orvikfile:// URL";
    case SchemeError::fileNotFound: return "File not found: " + std::string(path);
    case SchemeError::responseCreationFailed: return "Failed to create HTTP response";
  }
  return {};
}

std::string OrvikFileSchemeHandler::mimeType(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return "application/octet-stream";
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = lower(c);
  static const std::vector<std::pair<std::string_view, std::string_view>> table = {
      {"mp4", "video/mp4"},        {"mov", "video/quicktime"}, {"avi", "video/x-msvideo"},
      {"webm", "video/webm"},      {"mkv", "video/x-matroska"}, {"m4v", "video/x-m4v"},
      {"3gp", "video/3gpp"},       {"jpg", "image/jpeg"},      {"jpeg", "image/jpeg"},
      {"png", "image/png"},        {"gif", "image/gif"},       {"webp", "image/webp"},
      {"heic", "image/heic"},      {"svg", "image/svg+xml"},   {"pdf", "application/pdf"},
      {"zip", "application/zip"},  {"txt", "text/plain"},      {"mp3", "audio/mpeg"},
      {"m4a", "audio/mp4"},        {"wav", "audio/wav"},       {"ogg", "audio/ogg"},
  };
  for (const auto& [key, type] : table) {
    if (key == extension) return std::string(type);
  }
  return "application/octet-stream";
}

std::optional<ByteRange> OrvikFileSchemeHandler::parseRange(std::string_view value, std::uint64_t total) {
  constexpr std::string_view prefix = "bytes=";
  if (!value.starts_with(prefix)) return std::nullopt;
  std::string_view rest = value.substr(prefix.size());
  if (total == 0) return std::nullopt;
  // All arithmetic in unsigned 64 bits, where total - 1 and total - count
  // cannot wrap, whatever the file's length.
  const std::uint64_t maxIndex = total - 1;

  // "bytes=-N": the last N bytes (all of them when the file is shorter, and
  // when N does not even fit 64 bits).
  if (rest.starts_with('-')) {
    const std::string_view digits = rest.substr(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
    if (error == std::errc::result_out_of_range) return ByteRange{0, maxIndex};
    if (error != std::errc() || end != digits.data() + digits.size() || count == 0) return std::nullopt;
    return ByteRange{count >= total ? 0 : total - count, maxIndex};
  }

  const std::size_t dash = rest.find('-');
  const std::string_view firstText = rest.substr(0, dash);
  const std::string_view lastText = dash == std::string_view::npos ? std::string_view() : rest.substr(dash + 1);
  const std::optional<std::int64_t> first = parseInteger(firstText);
  if (!first || *first < 0) return std::nullopt;
  const std::optional<std::int64_t> lastRead = lastText.empty() ? std::nullopt : parseInteger(lastText);
  if (lastRead && *lastRead < 0) return std::nullopt;
  const auto from = static_cast<std::uint64_t>(*first);
  const std::uint64_t to = lastRead ? static_cast<std::uint64_t>(*lastRead) : maxIndex;
  if (from > to || to > maxIndex) return std::nullopt;
  return ByteRange{from, to};
}

std::optional<std::string> OrvikFileSchemeHandler::filePath(std::string_view url) {
  static const std::string schemeText = std::string(platform::kOrvikFileScheme) + ":";
  const std::string_view scheme = schemeText;
  if (url.size() < scheme.size() || !equalsIgnoringCase(url.substr(0, scheme.size()), scheme)) return std::nullopt;
  std::string_view rest = url.substr(scheme.size());
  if (rest.starts_with("//")) {
    const std::size_t pathStart = rest.find_first_of("/?#", 2);
    rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path;
  path.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path.push_back(rest[i]);
      continue;
    }
    if (i + 2 >= rest.size()) return std::nullopt;
    const int high = hexValue(rest[i + 1]);
    const int low = hexValue(rest[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!path.starts_with('/') || path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

OrvikFileSchemeHandler::Result OrvikFileSchemeHandler::failure(SchemeError error, std::string_view path) {
  Result result;
  result.error = error;
  result.errorText = describe(error, path);
  return result;
}

OrvikFileSchemeHandler::Response OrvikFileSchemeHandler::preflightResponse() {
  Response response;
  response.status = 204;
  response.headers = {{"Access-Control-Allow-Origin", "*"},
                      {"Access-Control-Allow-Methods", kAllowedMethods},
                      {"Access-Control-Allow-Headers", "*"},
                      {"Access-Control-Max-Age", "86400"},
                      {"Access-Control-Expose-Headers", kExposedHeaders}};
  return response;
}

void OrvikFileSchemeHandler::startTask(Request request, Completion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // The preflight needs no file: answered at once, whether or not it exists.
  const bool isPreflight = equalsIgnoringCase(request.method, "OPTIONS");
  if (isPreflight || !filePath(request.url)) {
    Result result = serve(request);
    platform::mainQueue().post([completion = std::move(completion), result = std::move(result)]() mutable {
      completion(std::move(result));
    });
    return;
  }
  reads_->post([weak = weak_from_this(), request = std::move(request), completion = std::move(completion)]() mutable {
    // A handler that went away while the read waited still answers, so
    // WebKit's request is finished and released.
    auto self = weak.lock();
    Result result = self ? self->serve(request)
                         : failure(SchemeError::fileNotFound, filePath(request.url).value_or(std::string()));
    // `self` goes along to be released on the main queue: the handler's last
    // owner must never be its own read thread, which its destructor joins.
    platform::mainQueue().post(
        [self = std::move(self), completion = std::move(completion), result = std::move(result)]() mutable {
          completion(std::move(result));
        });
  });
}

OrvikFileSchemeHandler::Result OrvikFileSchemeHandler::serve(const Request& request) const {
  const std::optional<std::string> path = filePath(request.url);
  if (!path) return failure(SchemeError::invalidURL, {});
  if (equalsIgnoringCase(request.method, "OPTIONS")) return {preflightResponse(), {}, {}};

  // No preflight ever reaches a scheme handler, so a cross-origin read is
  // refused here; loads without an Origin (images, media) carry none.
  if (const auto origin = request.header("Origin"); origin && !(isTrustedOrigin_ && isTrustedOrigin_(*origin))) {
    return failure(SchemeError::fileNotFound, *path);
  }

  int fd;
  do {
    fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return failure(SchemeError::fileNotFound, *path);
  auto file = std::make_shared<OpenFile>(fd);
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return failure(SchemeError::fileNotFound, *path);
  const std::optional<fs::path> real = realPathOf(fd);
  // Outside the allowed places a file reads as missing, so the page cannot
  // even learn that it exists.
  if (!real || !policy_.allows(*real)) return failure(SchemeError::fileNotFound, *path);

  const auto total = static_cast<std::uint64_t>(info.st_size);
  Response response;
  response.headers = {{"Content-Type", mimeType(*path)},
                      {"Accept-Ranges", "bytes"},
                      {"Cache-Control", "no-cache"},
                      {"Access-Control-Allow-Origin", "*"},
                      {"Access-Control-Allow-Methods", kAllowedMethods},
                      {"Access-Control-Allow-Headers", "*"},
                      {"Access-Control-Expose-Headers", kExposedHeaders}};
  std::optional<ByteRange> range;
  if (const auto value = request.header("Range")) range = parseRange(*value, total);
  if (range) {
    response.status = 206;
    response.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                       std::to_string(range->last) + "/" + std::to_string(total));
    response.offset = range->first;
    response.length = range->length();
  } else {
    response.status = 200;
    response.offset = 0;
    response.length = total;
  }
  response.headers.emplace_back("Content-Length", std::to_string(response.length));

  if (response.length <= kInMemoryBodyLimit) {
    if (!readFully(fd, response.offset, response.length, response.bytes)) {
      return failure(SchemeError::fileNotFound, *path);
    }
    response.length = 0;
    response.offset = 0;
  } else {
    response.file = std::move(file);
  }
  return {std::move(response), {}, {}};
}

}  // namespace orvik
