// Page messages as the web host hands them on: the envelope text our
// forwarder posts, decoded, then dispatched from a trusted origin to the real
// file-transfer handlers (writing into a private documents folder) and, for
// every other name, to the typed payload reads the handlers use.
//
// The first input byte picks the handler ("nativeApp" or "logger"); the rest
// is the envelope's body. A byte of 1 in front of the body makes it a whole
// envelope instead.
#include <cstdint>
#include <filesystem>

#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "files/file_access_policy.h"
#include "files/file_transfer_messages.h"
#include "files/transfer_managers.h"
#include "fuzz_support.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/page_payload.h"
#include "platform/recording_page_script_sink.h"
#include "web/bridge_dispatcher.h"
#include "web/bridge_message.h"

using namespace orvik;
using nlohmann::json;

namespace {

// What a handler of any other subsystem does first: typed reads of its keys.
void readEveryKey(const json& body) {
  if (!body.is_object()) return;
  for (const auto& [key, value] : body.items()) {
    (void)platform::payloadString(body, key);
    (void)platform::payloadFlag(body, key);
    (void)platform::payloadNumber(body, key);
    (void)platform::payloadInteger(body, key);
    (void)platform::payloadObject(body, key);
    (void)platform::payloadArray(body, key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fuzz::privateHome();
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main(queue);
  platform::ScopedClock clock(queue.clock());
  auto page = std::make_shared<platform::RecordingPageScriptSink>();
  DocTransferManager documents(documentsDirectory);
  ImgTransferManager images(documentsDirectory);
  VideoTransferManager videos(documentsDirectory);
  FileAccessPolicy policy(FileAccessPolicy::programRoots);
  const auto noThumbnail = [](const std::filesystem::path&, std::string_view) {
    return std::optional<std::filesystem::path>();
  };
  FileTransferMessages transfers(page, documents, images, videos, queue, policy, {noThumbnail, noThumbnail});

  std::size_t printed = 0;
  BridgeDispatcher::Collaborators collaborators;
  collaborators.isTrustedHost = [](std::string_view host) { return host == "app.orvik.test"; };
  collaborators.print = [&printed](const std::string&) { ++printed; };
  static NativeLogger logger([](const std::string&) {});
  collaborators.logger = &logger;
  BridgeDispatcher dispatcher(collaborators);
  for (const auto& entry : BridgeDispatcher::textNames()) (void)dispatcher.route(entry.name, readEveryKey);
  for (auto name : BridgeDispatcher::dictionaryNames()) (void)dispatcher.route(name, readEveryKey);
  transfers.publishRoutes(dispatcher);

  const std::string handler = (data[0] & 1) ? "logger" : "nativeApp";
  std::string_view rest = fuzz::text(data + 1, size - 1);
  std::string envelope;
  if (!rest.empty() && rest[0] == '\x01') {
    envelope = std::string(rest.substr(1));
  } else {
    envelope = "{\"top\":true,\"origin\":\"https://app.orvik.test\",\"body\":" + std::string(rest) + "}";
  }
  if (auto message = bridgeMessageFromEnvelope(handler, envelope)) {
    message->documentVerified = true;
    dispatcher.didReceive(*message);
  }
  queue.runUntilIdle();
  std::error_code ec;
  std::filesystem::remove_all(documentsDirectory(), ec);
  return 0;
}
