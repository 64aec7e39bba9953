#include "web/call_credentials_sink.h"

#include "core/native_logger.h"

namespace orvik {
namespace {

// No call engine in this build yet: the credentials are kept, not used.
class HeldCallCredentials final : public CallCredentialsSink {
 public:
  bool hasCredentials() const override { return !credentials_.userNumber.empty(); }
  void setCredentials(const CallCredentials& credentials) override { credentials_ = credentials; }
  void clearCredentials() override { credentials_ = {}; }
  void setSecurityState(bool, bool) override {
    nativeLog("[WebView] bridge message 'securityStateChanged' not handled yet");
  }

 private:
  CallCredentials credentials_;
};

CallCredentialsSink* installed = nullptr;

}  // namespace

CallCredentialsSink& sharedCallCredentials() {
  static HeldCallCredentials held;
  return installed ? *installed : held;
}

void installCallCredentialsSink(CallCredentialsSink* sink) { installed = sink; }

}  // namespace orvik
