#include "core/device_udid_provider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using ::testing::ElementsAre;
using platform::VirtualClock;
using platform::VirtualQueue;

const std::string kUdid = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// The worker is a second virtual queue on the same clock: a keyring that
// "hangs" is one whose queue the test does not run.
class DeviceUdidProviderTest : public ::testing::Test {
 protected:
  KeyringDeviceUdidProvider makeProvider() {
    return KeyringDeviceUdidProvider([this] { ++lookups; return stored; }, main, worker, 3.0,
                                     [this](const std::string& line) { logged.push_back(line); });
  }
  DeviceUdidProvider::Done record() {
    return [this](const std::string& udid) { answers.push_back(udid); };
  }

  VirtualClock clock;
  VirtualQueue main{&clock};
  VirtualQueue worker{&clock};
  std::string stored = kUdid;
  int lookups = 0;
  std::vector<std::string> answers;
  std::vector<std::string> logged;
};

TEST_F(DeviceUdidProviderTest, TheKeyringIsReadOffTheMainQueueAndAnsweredOnIt) {
  auto provider = makeProvider();
  provider.requestDeviceUdid(record());
  EXPECT_EQ(lookups, 0) << "the read must not run inside the request";
  main.runUntilIdle();
  EXPECT_TRUE(answers.empty());

  worker.runUntilIdle();
  EXPECT_TRUE(answers.empty()) << "the answer is delivered on the main queue";
  main.runUntilIdle();
  EXPECT_THAT(answers, ElementsAre(kUdid));

  main.advance(10.0);
  EXPECT_THAT(answers, ElementsAre(kUdid)) << "answered once, no time-out afterwards";
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(main.pendingCount(), 0u);
}

TEST_F(DeviceUdidProviderTest, AKeyringThatDoesNotAnswerHoldsNobodyBeyondTheTimeOut) {
  auto provider = makeProvider();
  provider.requestDeviceUdid(record());
  main.advance(2.9);
  EXPECT_TRUE(answers.empty());
  main.advance(0.1);
  EXPECT_THAT(answers, ElementsAre(""));
  EXPECT_THAT(logged, ElementsAre("[udid] keyring did not answer within 3 s — going on with EMPTY"));

  // The late answer is not delivered twice, but it is remembered.
  worker.runUntilIdle();
  main.runUntilIdle();
  EXPECT_THAT(answers, ElementsAre(""));

  provider.requestDeviceUdid(record());
  main.advance(3.0);
  EXPECT_THAT(answers, ElementsAre("", kUdid));
  EXPECT_EQ(logged.back(), "[udid] keyring did not answer within 3 s — going on with …456789abcdef");
}

TEST_F(DeviceUdidProviderTest, AnUnreadableKeyringAnswersEmptyAndEveryRequestAsksAgain) {
  auto provider = makeProvider();
  stored.clear();
  provider.requestDeviceUdid(record());
  worker.runUntilIdle();
  main.runUntilIdle();
  stored = kUdid;  // unlocked meanwhile
  provider.requestDeviceUdid(record());
  worker.runUntilIdle();
  main.runUntilIdle();
  EXPECT_THAT(answers, ElementsAre("", kUdid));
  EXPECT_EQ(lookups, 2);
}

TEST_F(DeviceUdidProviderTest, AnAnswerAfterTheProviderIsGoneStillReachesTheCaller) {
  {
    auto provider = makeProvider();
    provider.requestDeviceUdid(record());
  }
  worker.runUntilIdle();
  main.runUntilIdle();
  EXPECT_THAT(answers, ElementsAre(kUdid));
}

}  // namespace
}  // namespace orvik
