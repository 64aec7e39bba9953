// What the script bridge hands the call engine: the signed-in user's call
// credentials, read out of the page, and the page's security state. The call
// manager implements it; the bridge reaches the call engine only through it,
// and the composition root hands it over.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <string>

namespace orvik {

struct CallCredentials {
  std::string userNumber;
  std::string deviceUdid;
  std::string authToken;
  std::string displayName;
  std::string avatarURL;
};

class CallCredentialsSink {
 public:
  virtual ~CallCredentialsSink() = default;
  // True exactly when a user number is held.
  virtual bool hasCredentials() const = 0;
  virtual void setCredentials(const CallCredentials& credentials) = 0;
  // Sign-out: forgets the credentials and ends a call in progress.
  virtual void clearCredentials() = 0;
  // The page's decoy (masked data) and wipe-out (reverse PIN) modes.
  virtual void setSecurityState(bool maskData, bool isReversePinTriggered) = 0;
};

}  // namespace orvik
