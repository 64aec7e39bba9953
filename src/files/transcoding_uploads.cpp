#include "files/transcoding_uploads.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "files/documents_folder.h"
#include "platform/app_folders.h"
#include "platform/file_io.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

constexpr const char* kInvalidJobId = R"({"error":"invalid job id"})";
constexpr const char* kInvalidSize = R"({"error":"invalid size"})";
constexpr const char* kCannotCreate = R"({"error":"cannot create temp file"})";
constexpr const char* kStarted = R"({"status":"started"})";
constexpr const char* kNoJob = R"({"error":"no transcode job"})";
constexpr const char* kEmptyChunk = R"({"error":"empty chunk"})";
constexpr const char* kTooMuch = R"({"error":"more data than announced"})";
constexpr const char* kOk = R"({"status":"ok"})";
constexpr const char* kIncomplete = R"({"error":"incomplete upload"})";
constexpr const char* kEmptyOutput = R"({"error":"empty output"})";
constexpr const char* kStillRunning = R"({"error":"job is transcoding"})";
constexpr const char* kTooManyJobs = R"({"error":"too many transcode jobs"})";

UploadResponse json(int status, std::string body) {
  return OrvikUploadSchemeHandler::jsonResponse(status, std::move(body));
}

// The whole text as a number in the C locale; no leading white space.
std::optional<double> parseBitrate(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string readWholeFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string errnoText(int code) { return std::strerror(code); }

}  // namespace

std::string progressText(double value) {
  if (!std::isfinite(value)) return "0.0";
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, error == std::errc() ? end : buffer);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

void TranscodeJob::cleanup() {
  if (handle >= 0) {
    ::close(handle);
    handle = -1;
  }
  std::error_code ec;
  fs::remove(input, ec);
  fs::remove(output, ec);
}

TranscodingUploads::TranscodingUploads(fs::path folder, platform::TaskQueue& worker, Transcode transcode)
    : folder_(std::move(folder)), worker_(worker), transcode_(std::move(transcode)) {
  if (ensureFolder()) return;
  lockFile_ = ::open((folder_ / kLockFileName).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  // Whatever a quit left halfway is of no use to anyone, unless another copy
  // of the program is using the folder right now.
  if (lockFile_ < 0 || ::flock(lockFile_, LOCK_EX | LOCK_NB) != 0) return;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder_, ec)) {
    if (entry.path().filename() != kLockFileName) fs::remove_all(entry.path(), ec);
  }
}

TranscodingUploads::~TranscodingUploads() {
  std::map<std::string, JobPtr> jobs;
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs.swap(jobs_);
  }
  for (auto& [id, job] : jobs) {
    if (job->idleExpiry) job->idleExpiry->cancel();
    // A transcoding still running keeps its files until it ends; it then
    // finds no owner and the job cleans up after itself.
    if (!job->running) job->cleanup();
  }
  if (lockFile_ >= 0) ::close(lockFile_);
}

fs::path TranscodingUploads::defaultFolder() { return platform::applicationSupportFolder() / "orvik-transcode"; }

std::size_t TranscodingUploads::jobCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_.size();
}

std::optional<std::string> TranscodingUploads::ensureFolder() {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  struct stat info {};
  if (::lstat(folder_.c_str(), &info) != 0) return errnoText(errno);
  // Another user's folder, or a link planted in our place, is never written into.
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) return "temporary folder is not ours";
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder_.c_str(), 0700) != 0) return errnoText(errno);
  return std::nullopt;
}

void TranscodingUploads::discard(const std::string& id, const JobPtr& job) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = jobs_.find(id);
    if (found != jobs_.end() && found->second == job) jobs_.erase(found);
  }
  if (job->idleExpiry) job->idleExpiry->cancel();
  job->cleanup();
}

void TranscodingUploads::armIdleExpiry(const std::string& id, const JobPtr& job) {
  if (job->idleExpiry) job->idleExpiry->cancel();
  job->idleExpiry = std::make_shared<platform::WorkItem>([weak = weak_from_this(), id, weakJob = std::weak_ptr(job)] {
    auto self = weak.lock();
    auto job = weakJob.lock();
    if (!self || !job) return;
    {
      std::lock_guard<std::mutex> guard(self->lock_);
      if (job->running) return;
    }
    self->discard(id, job);
  });
  platform::mainQueue().postAfter(kIdleTimeout, job->idleExpiry);
}

void TranscodingUploads::start(const std::string& id, const UploadRequest& request, const Reply& reply) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isValidTransferId(id)) {
    reply(json(400, kInvalidJobId));
    return;
  }
  const std::optional<std::int64_t> size = parseDecimalHeader(request.header("X-Total-Size").value_or("0"));
  if (!size || *size < 1 || *size > kMaxInputSize) {
    reply(json(413, kInvalidSize));
    return;
  }
  std::optional<double> maxBitrate;
  if (const auto text = request.header("X-Max-Video-Bitrate")) maxBitrate = parseBitrate(*text);
  const bool reduce = request.header("X-Reduce") == std::optional<std::string>("1");

  if (const auto failure = ensureFolder()) {
    reply(json(500, jsonErrorBody(*failure)));
    return;
  }

  JobPtr previous;
  std::size_t others = 0;
  bool running = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = jobs_.find(id); found != jobs_.end()) {
      running = found->second->running;
      if (!running) {
        previous = found->second;
        jobs_.erase(found);
      }
    }
    others = jobs_.size();
  }
  if (running) {
    // Its files are the transcoder's until it ends.
    reply(json(409, kStillRunning));
    return;
  }
  if (previous) {
    if (previous->idleExpiry) previous->idleExpiry->cancel();
    previous->cleanup();
  }
  if (others >= kMaxJobs) {
    reply(json(429, kTooManyJobs));
    return;
  }

  auto job = std::make_shared<TranscodeJob>();
  job->input = folder_ / (id + ".in.mov");
  job->output = folder_ / (id + ".out.mp4");
  job->expectedSize = *size;
  job->maxVideoBitrate = maxBitrate;
  job->reduce = reduce;
  std::error_code ec;
  fs::remove(job->input, ec);
  int fd;
  do {
    fd = ::open(job->input.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reply(json(500, kCannotCreate));
    return;
  }
  job->handle = fd;
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_[id] = job;
  }
  armIdleExpiry(id, job);
  reply(json(200, kStarted));
}

void TranscodingUploads::chunk(const std::string& id, const UploadBody& body, const Reply& reply) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  JobPtr job;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = jobs_.find(id); found != jobs_.end() && found->second->handle >= 0 && !found->second->running) {
      job = found->second;
    }
  }
  if (!job) {
    reply(json(404, kNoJob));
    return;
  }
  if (!body.complete) {
    // Part of a chunk would leave the input with a hole in it.
    discard(id, job);
    reply(json(400, jsonErrorBody("incomplete body: " + body.error)));
    return;
  }
  if (body.bytes.empty()) {
    reply(json(400, kEmptyChunk));
    return;
  }
  if (job->written + static_cast<std::int64_t>(body.bytes.size()) > job->expectedSize) {
    discard(id, job);
    reply(json(413, kTooMuch));
    return;
  }
  if (!platform::writeAll(job->handle, body.bytes)) {
    const int code = errno;
    discard(id, job);
    reply(json(500, jsonErrorBody(errnoText(code))));
    return;
  }
  job->written += static_cast<std::int64_t>(body.bytes.size());
  armIdleExpiry(id, job);
  reply(json(200, kOk));
}

void TranscodingUploads::end(const std::string& id, Reply reply) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  JobPtr job;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = jobs_.find(id); found != jobs_.end() && !found->second->running) {
      job = found->second;
      job->running = true;
    }
  }
  if (!job) {
    reply(json(404, kNoJob));
    return;
  }
  if (job->idleExpiry) job->idleExpiry->cancel();
  const bool closed = job->handle < 0 || ::close(job->handle) == 0;
  job->handle = -1;
  if (!closed || job->written != job->expectedSize) {
    discard(id, job);
    reply(json(400, kIncomplete));
    return;
  }
  worker_.post([weak = weak_from_this(), transcode = transcode_, id, job, reply = std::move(reply)] {
    std::weak_ptr<TranscodingUploads> progressOwner = weak;
    transcode(
        job->input, job->output, job->maxVideoBitrate, job->reduce,
        [progressOwner, job](double value) {
          if (auto self = progressOwner.lock()) {
            std::lock_guard<std::mutex> guard(self->lock_);
            job->progress = value;
          }
        },
        [weak, id, job, reply](VideoTranscoder::Result result) {
          if (auto self = weak.lock()) {
            self->finish(id, job, std::move(result), reply);
          } else {
            job->cleanup();
          }
        });
  });
}

void TranscodingUploads::finish(const std::string& id, const JobPtr& job, VideoTranscoder::Result result,
                                const Reply& reply) {
  // On the transcoder's thread: read the file here, answer on the main queue.
  UploadResponse response;
  if (const auto* error = std::get_if<TranscodeError>(&result)) {
    response = json(500, jsonErrorBody(error->description()));
  } else {
    std::string bytes = readWholeFile(std::get<fs::path>(result));
    response = bytes.empty() ? json(500, kEmptyOutput)
                             : OrvikUploadSchemeHandler::dataResponse(200, std::move(bytes), "video/mp4");
  }
  platform::mainQueue().post([weak = weak_from_this(), id, job, reply, response = std::move(response)]() mutable {
    reply(std::move(response));
    if (auto self = weak.lock()) {
      self->discard(id, job);
    } else {
      job->cleanup();
    }
  });
}

void TranscodingUploads::progress(const std::string& id, const Reply& reply) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::optional<double> value;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (auto found = jobs_.find(id); found != jobs_.end()) value = found->second->progress;
  }
  if (!value) {
    reply(json(404, kNoJob));
    return;
  }
  reply(json(200, "{\"progress\":" + progressText(*value) + "}"));
}

}  // namespace orvik
