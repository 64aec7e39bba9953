// VideoTranscoder re-encodes a video the page is about to upload into a
// smaller, widely playable MP4: H.264 High of at most 1920 pixels on the long
// side and 60 frames per second, upright (the source's rotation is applied to
// the pixels, the output carries none), tagged BT.709, with AAC stereo
// (44.1 kHz, 128 kbit/s) when the source has sound and an AAC encoder is
// installed, and the index ahead of the media data for progressive download.
//
// The source is analysed with GStreamer's discoverer; deriveSettings turns
// what it found into the output size, frame rate and bit rate; a pipeline
// (decodebin, videoflip, videoscale, videorate, x264enc, an AAC encoder,
// mp4mux) does the work. A failed run deletes its output.
//
// THREAD-SAFETY: transcode blocks until the job ends: call it on a
// background queue, never the main queue. Jobs share nothing; several may
// run at once. `progress` is called on GStreamer's streaming threads (values
// 0 to 0.99) and, with 1.0, on the calling thread; `completion` once, on the
// calling thread, before transcode returns.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace orvik {

struct TranscodeError {
  enum class Kind {
    readerFailed,  // "reader failed: " + text
    writerFailed,  // "writer failed: " + text
    noVideoTrack,  // "no video track"
    platform,      // the media framework's own text, unchanged
  };
  Kind kind = Kind::writerFailed;
  std::string text;

  std::string description() const;
  bool operator==(const TranscodeError&) const = default;
};

class VideoTranscoder {
 public:
  using Progress = std::function<void(double value)>;
  using Result = std::variant<std::filesystem::path, TranscodeError>;
  using Completion = std::function<void(Result result)>;

  // What the analysis learned of the source.
  struct SourceInfo {
    double naturalWidth = 0;   // as stored, before rotation
    double naturalHeight = 0;
    int rotationDegrees = 0;  // 0, 90, 180 or 270, clockwise
    double nominalFrameRate = 0;  // 0 when unknown or variable
    double estimatedDataRate = 0;  // video bits per second, 0 when unknown
    bool isHvc1 = false;  // HEVC stored as 'hvc1' (not 'hev1')
    double durationSeconds = 0;  // 0 when unknown
    bool hasAudio = false;
  };

  struct Settings {
    int sourceWidth = 0;  // displayed (rotated) size
    int sourceHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    double frameRate = 0;
    int roundedFrameRate = 0;
    long long bitRate = 0;  // truncated to whole bits per second
    int keyFrameInterval = 0;
    double duration = 0;  // seconds, 0 when unknown
    bool operator==(const Settings&) const = default;
  };

  static constexpr int kMaxLongSide = 1920;
  static constexpr double kMaxFrameRate = 60;
  static constexpr double kDefaultFrameRate = 30;
  static constexpr double kBitsPerPixel = 0.15;
  static constexpr double kHevcFactor = 1.5;
  static constexpr double kReduceFactor = 0.9;
  static constexpr double kMinBitRate = 500000;
  static constexpr int kAudioRate = 44100;
  static constexpr int kAudioChannels = 2;
  static constexpr int kAudioBitRate = 128000;

  // The output settings for a source; none when its displayed size has a
  // side of 0 or not a number (reported as noVideoTrack).
  static std::optional<Settings> deriveSettings(const SourceInfo& source, std::optional<double> maxBitrate,
                                                bool reduce);

  // Reads `input`, writes `output` (a file already there is replaced).
  // `maxBitrate` caps the video bit rate when present and above 0; `reduce`
  // asks for 90 % of the source's own rate. Blocks until done.
  static void transcode(const std::filesystem::path& input, const std::filesystem::path& output,
                        std::optional<double> maxBitrate, bool reduce, const Progress& progress,
                        const Completion& completion);

  // The source analysis alone, for tests and the benchmark.
  static std::variant<SourceInfo, TranscodeError> analyse(const std::filesystem::path& input);
};

}  // namespace orvik
