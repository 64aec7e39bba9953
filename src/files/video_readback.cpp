#include "files/video_readback.h"

#include <fstream>
#include <utility>

#include "platform/base64.h"

namespace orvik {
namespace {

constexpr const char* kChunkFunction = "__orvikVidChunk";
constexpr const char* kDoneFunction = "__orvikVidDone";

struct Stream : std::enable_shared_from_this<Stream> {
  std::weak_ptr<platform::PageScriptSink> page;
  platform::TaskQueue* background = nullptr;
  std::ifstream in;
  std::string transferId;
  std::string mimeType;
  std::size_t index = 0;

  // On the background queue: one slice, then wait for the page.
  void readNext() {
    std::string bytes(VideoReadback::kSliceBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad() || (got < bytes.size() && !in.eof())) {
      platform::callPage(page, platform::pageFunctionCall(kDoneFunction, {transferId, 0, ""}));
      return;
    }
    if (got == 0) {
      platform::callPage(page, platform::pageFunctionCall(kDoneFunction, {transferId, index, mimeType}));
      return;
    }
    bytes.resize(got);
    std::string script = platform::pageFunctionCall(kChunkFunction, {transferId, index, platform::encodeBase64(bytes)});
    bytes.clear();
    bytes.shrink_to_fit();
    ++index;
    platform::callPage(page, std::move(script), [self = shared_from_this()](const platform::PageScriptResult&) {
      self->background->post([self] { self->readNext(); });
    });
  }
};

}  // namespace

void VideoReadback::start(std::weak_ptr<platform::PageScriptSink> page, platform::TaskQueue& background,
                          const std::filesystem::path& file, std::string transferId, std::string mimeType) {
  auto stream = std::make_shared<Stream>();
  stream->page = std::move(page);
  stream->background = &background;
  stream->transferId = std::move(transferId);
  stream->mimeType = std::move(mimeType);
  background.post([stream, file] {
    stream->in.open(file, std::ios::binary);
    if (!stream->in) {
      sendMissing(stream->page, stream->transferId);
      return;
    }
    stream->readNext();
  });
}

void VideoReadback::sendMissing(std::weak_ptr<platform::PageScriptSink> page, const std::string& transferId) {
  platform::callPage(std::move(page), platform::pageFunctionCall(kDoneFunction, {transferId, 0, ""}));
}

}  // namespace orvik
