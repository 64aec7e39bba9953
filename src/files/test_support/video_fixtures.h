// Video clips made at test time with GStreamer (videotestsrc, audiotestsrc),
// and what a test needs to know of a transcoded file: its codecs, size,
// sound, the order of its top-level boxes, its track matrices and whether
// its first frame shows colour bars running across or down the picture.
// Blocking; call from a test's thread.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::testing {

struct ClipRecipe {
  int width = 320;
  int height = 240;
  int fps = 30;
  int frames = 10;
  std::string codec = "h264";  // "h264" or "hevc" (MP4, 'hvc1'), "vp8" (Matroska)
  bool sound = false;          // AAC (MP4) or Vorbis (Matroska), 48 kHz mono
  int rotation = 0;            // 90 or 270: stored turned, through the track matrix (MP4 only)
};

// SMPTE 75 % bars: one colour down each column of the stored picture.
bool makeClip(const std::filesystem::path& file, const ClipRecipe& recipe);
// An MP4 (M4A) with one AAC track and no video.
bool makeSoundOnly(const std::filesystem::path& file);

struct ClipFacts {
  std::string videoCodec;  // caps name, "video/x-h264"
  std::string profile;     // "high"
  int width = 0;
  int height = 0;
  std::string audioCodec;  // "audio/mpeg4" for AAC, empty without sound
  int audioRate = 0;
  int audioChannels = 0;
  int tracks = 0;             // 'trak' boxes
  bool indexFirst = false;    // 'moov' ahead of 'mdat'
  bool identityMatrix = false;  // every track unrotated
  bool rowsUniform = false;     // the first frame's rows are each one colour
  bool columnsUniform = false;  // its columns are each one colour
  int decodedFrames = 0;        // 1 when a frame could be decoded
};
ClipFacts inspectClip(const std::filesystem::path& file);

}  // namespace orvik::testing
