// The transcoding uploads of the orvikupload:// scheme: the page streams a
// video into a temporary file (transcodestart, transcodechunk), asks for it
// to be transcoded (transcodeend, whose reply is the MP4 file), and may poll
// the progress meanwhile (transcodeprogress). One TranscodeJob per job id.
//
// The temporary files live in a folder of the program's own (0700), named
// after the job id, which must pass isValidTransferId. The folder is emptied
// when this object is made, so a job cut short by a quit leaves nothing
// behind for long; a second copy of the program running on the same folder
// (it holds kLockFileName locked) keeps its files. At most kMaxJobs jobs are held at once; a job that is
// still receiving and hears nothing for kIdleTimeout seconds is discarded.
// A transcodestart for an id whose job is transcoding is refused (409): the
// running job is left alone, and a finished transcoding only ever discards
// its own job.
//
// THREAD-SAFETY: the four actions on the main queue, each answering through
// its reply function on the main queue (at once, or, for transcodeend, when
// the transcoding ends). Transcodings run on the worker queue; progress
// arrives from any thread. The job table is guarded by a lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "files/orvik_upload_scheme_handler.h"
#include "files/video_transcoder.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

// The progress text: the shortest decimal text that reads back as the same
// double, with at least one digit after the point or an exponent (0.0, 0.25,
// 1.0, 1e-05); 0.0 for a value that is not finite.
std::string progressText(double value);

struct TranscodeJob {
  std::filesystem::path input;   // <folder>/<id>.in.mov
  std::filesystem::path output;  // <folder>/<id>.out.mp4
  std::int64_t expectedSize = 0;
  std::optional<double> maxVideoBitrate;
  bool reduce = false;
  int handle = -1;  // the open writing descriptor of `input`; -1 once closed
  std::int64_t written = 0;
  double progress = 0;  // guarded by the owner's lock
  bool running = false;  // guarded by the owner's lock
  std::shared_ptr<platform::WorkItem> idleExpiry;  // main queue

  // Closes the handle and deletes both files; errors are ignored.
  void cleanup();
};

class TranscodingUploads : public std::enable_shared_from_this<TranscodingUploads> {
 public:
  using Reply = std::function<void(UploadResponse response)>;
  // VideoTranscoder::transcode, or a test's stand-in with the same contract.
  using Transcode = std::function<void(const std::filesystem::path& input, const std::filesystem::path& output,
                                       std::optional<double> maxBitrate, bool reduce,
                                       VideoTranscoder::Progress progress, VideoTranscoder::Completion completion)>;

  static constexpr std::int64_t kMaxInputSize = 200LL * 1024 * 1024;
  static constexpr std::size_t kMaxJobs = 4;
  static constexpr double kIdleTimeout = 600.0;
  // Held locked by the copy of the program that uses the folder.
  static constexpr const char* kLockFileName = ".in-use";

  // `folder` is made (0700) when missing and emptied now. Transcodings run
  // on `worker`.
  TranscodingUploads(std::filesystem::path folder, platform::TaskQueue& worker, Transcode transcode);
  ~TranscodingUploads();
  TranscodingUploads(const TranscodingUploads&) = delete;
  TranscodingUploads& operator=(const TranscodingUploads&) = delete;

  // The program's folder for them: "orvik-transcode" in the
  // application-support folder.
  static std::filesystem::path defaultFolder();

  void start(const std::string& id, const UploadRequest& request, const Reply& reply);
  void chunk(const std::string& id, const UploadBody& body, const Reply& reply);
  void end(const std::string& id, Reply reply);
  void progress(const std::string& id, const Reply& reply);

  std::size_t jobCount() const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  using JobPtr = std::shared_ptr<TranscodeJob>;

  std::optional<std::string> ensureFolder();
  // Takes the job out of the table when it is still the one registered
  // under `id`, and cleans it up.
  void discard(const std::string& id, const JobPtr& job);
  void armIdleExpiry(const std::string& id, const JobPtr& job);
  void finish(const std::string& id, const JobPtr& job, VideoTranscoder::Result result, const Reply& reply);

  const std::filesystem::path folder_;
  int lockFile_ = -1;
  platform::TaskQueue& worker_;
  Transcode transcode_;

  mutable std::mutex lock_;  // guards jobs_ and each job's `running` and `progress`
  std::map<std::string, JobPtr> jobs_;
};

}  // namespace orvik
