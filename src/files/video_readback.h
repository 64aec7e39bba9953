// Reads a local video back to the page in Base64 slices ("readVideoForPlayback"),
// for pages that cannot play an orvikfile:// URL directly. Slice i goes to
// "__orvikVidChunk"(transferId, i, text); after the last, "__orvikVidDone"
// (transferId, count, MIME type); a file that cannot be read gets
// "__orvikVidDone"(transferId, 0, "") and nothing else.
//
// Every slice but the last holds kSliceBytes bytes, kSliceCharacters
// characters of Base64 (a multiple of three bytes, so the slices joined are
// the file's Base64 text). The file is read and encoded one slice at a time,
// and the next slice is read only once the page has run the previous one:
// however large the video, the program holds about one slice of it.
//
// THREAD-SAFETY: start on the main queue; reads run on the background queue
// given, page calls on the main queue. The page's sink is held weakly: once
// the page is gone the stream stops.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik {

class VideoReadback {
 public:
  static constexpr std::size_t kSliceCharacters = 700'000;
  static constexpr std::size_t kSliceBytes = kSliceCharacters / 4 * 3;

  // The number of slices a file of `size` bytes is sent in.
  static std::size_t sliceCount(std::uintmax_t size) { return (size + kSliceBytes - 1) / kSliceBytes; }

  // Streams `file` (already checked by the caller: a missing or unreadable
  // file still gets the missing reply). `mimeType` goes into the done reply.
  static void start(std::weak_ptr<platform::PageScriptSink> page, platform::TaskQueue& background,
                    const std::filesystem::path& file, std::string transferId, std::string mimeType);

  // The missing reply alone.
  static void sendMissing(std::weak_ptr<platform::PageScriptSink> page, const std::string& transferId);
};

}  // namespace orvik
