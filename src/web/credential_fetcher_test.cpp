#include "web/credential_fetcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "calls/signaling/test_support/recording_call_credentials_sink.h"
#include "platform/base64.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "web/bridge_dispatcher.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;

// A token whose payload (the second piece) holds `claims`, base64url without padding.
std::string tokenWith(const json& claims) {
  std::string payload = platform::encodeBase64(claims.dump());
  for (char& c : payload) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  while (!payload.empty() && payload.back() == '=') payload.pop_back();
  return "eyJhbGciOiJIUzI1NiJ9." + payload + ".c2ln";
}

json authData(std::string userNumber, std::string deviceUdid = "dev-1", std::string token = "") {
  return {{"eventType", "nativeAuthData"}, {"userNumber", userNumber}, {"deviceUdid", deviceUdid},
          {"authToken", token},            {"displayName", "Ann"},    {"avatarURL", "https://a/p.png"}};
}
const json kEmpty = {{"eventType", "nativeAuthData"}, {"userNumber", ""}, {"deviceUdid", ""}, {"authToken", ""},
                     {"_debug", "empty stores=user"}};

class CredentialFetcherTest : public ::testing::Test {
 protected:
  CredentialFetcherTest() : queue_(&clock_) { makeFetcher(); }
  void makeFetcher() {
    CredentialFetcher::Collaborators collaborators;
    collaborators.log = [this](const std::string& line) { logged_.push_back(line); };
    collaborators.setUserLoggedIn = [this](bool loggedIn) { loggedIn_.push_back(loggedIn); };
    collaborators.documentsFolder = [this] { return documents_.path(); };
    fetcher_ = std::make_unique<CredentialFetcher>(queue_, clock_, calls_, page_, std::move(collaborators));
  }
  std::size_t runs() const { return page_->scripts.size(); }

  platform::VirtualClock clock_;
  platform::VirtualQueue queue_;
  RecordingCallCredentialsSink calls_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  testing::TempDir documents_;
  std::vector<std::string> logged_;
  std::vector<bool> loggedIn_;
  std::unique_ptr<CredentialFetcher> fetcher_;
};

// A name the page's protocol does not have would never reach its handler.
TEST(CredentialFetcherMessageNames, EveryNameIsOneThePageSends) {
  BridgeDispatcher dispatcher({});
  for (const auto name : CredentialFetcher::messageNames()) {
    EXPECT_TRUE(dispatcher.route(name, [](const nlohmann::json&) {})) << name;
  }
}

TEST_F(CredentialFetcherTest, AnAcceptedAnswerHandsTheCredentialsOverInOrder) {
  fetcher_->fetchCredentials("bridge-message");
  ASSERT_EQ(runs(), 1u);
  EXPECT_EQ(page_->scripts[0], CredentialFetcher::authDataScript());
  fetcher_->handleNativeAuthData(authData("4711", "dev-1", ""));  // no token claim to compare
  ASSERT_TRUE(calls_.credentials);
  EXPECT_EQ(calls_.credentials->userNumber, "4711");
  EXPECT_EQ(calls_.credentials->deviceUdid, "dev-1");
  EXPECT_EQ(calls_.credentials->authToken, "");
  EXPECT_EQ(calls_.credentials->displayName, "Ann");
  EXPECT_EQ(calls_.credentials->avatarURL, "https://a/p.png");
  EXPECT_FALSE(fetcher_->authFetchInFlight());
  EXPECT_THAT(logged_, ElementsAre("[WebView] credential fetch requested — reason=bridge-message",
                                   "[WebView] nativeAuthData — credentials SET ✅"));
  // With credentials known, later requests do nothing.
  clock_.advance(10);
  fetcher_->fetchCredentials("incoming-call");
  EXPECT_EQ(runs(), 1u);
}

TEST_F(CredentialFetcherTest, EmptyAnswersAreRetriedTwelveTimesTwoSecondsApartThenTheFetchStops) {
  fetcher_->fetchCredentials("bridge-message");
  for (int retry = 1; retry <= CredentialFetcher::kMaxAuthFetchRetries; ++retry) {
    fetcher_->handleNativeAuthData(kEmpty);
    EXPECT_TRUE(fetcher_->authFetchInFlight());
    queue_.advance(1.99);
    EXPECT_EQ(runs(), static_cast<std::size_t>(retry)) << "retry " << retry << " came early";
    queue_.advance(0.01);
    EXPECT_EQ(runs(), static_cast<std::size_t>(retry + 1)) << "retry " << retry << " missing";
  }
  fetcher_->handleNativeAuthData(kEmpty);  // the thirteenth empty answer
  EXPECT_FALSE(fetcher_->authFetchInFlight());
  queue_.advance(60);
  EXPECT_EQ(runs(), 13u);
  EXPECT_EQ(calls_.setCount, 0);
  // A burst of bridge messages meanwhile would have started nothing; a new
  // request after the fetch gave up starts a new one.
  fetcher_->fetchCredentials("bridge-message");
  EXPECT_EQ(runs(), 14u);
  EXPECT_EQ(fetcher_->authFetchRetries(), 0);
}

TEST_F(CredentialFetcherTest, AFetchStartsAtMostOnceEveryTwoSeconds) {
  fetcher_->fetchCredentials("bridge-message");
  clock_.advance(1.5);
  fetcher_->fetchCredentials("bridge-message");  // in flight
  EXPECT_EQ(runs(), 1u);
  fetcher_->handleNativeAuthData(authData("4711"));
  calls_.clearCredentials();
  clock_.advance(0.4);
  fetcher_->fetchCredentials("invalid-token");  // 1.9 s after the last start
  EXPECT_EQ(runs(), 1u);
  clock_.advance(0.1);
  fetcher_->fetchCredentials("invalid-token");
  EXPECT_EQ(runs(), 2u);
  // A new page load forgets the last start.
  fetcher_->handleNativeAuthData(authData("4711"));
  calls_.clearCredentials();
  fetcher_->resetForNewLoad();
  fetcher_->fetchCredentials("bridge-message");
  EXPECT_EQ(runs(), 3u);
}

TEST_F(CredentialFetcherTest, ATokenMintedForAnotherDeviceIsRejectedAndRetried) {
  struct Case {
    const char* what;
    std::string token;
    std::string deviceUdid;
    bool accepted;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"same device", tokenWith({{"deviceUdid", "ABCdef"}}), "ABCdef", true},
           {"differs in letter case only", tokenWith({{"deviceUdid", "ABCDEF"}}), "abcdef", true},
           {"another device", tokenWith({{"deviceUdid", "other"}}), "abcdef", false},
           {"Udid claim", tokenWith({{"Udid", "other"}}), "abcdef", false},
           {"deviceUdid wins over Udid", tokenWith({{"deviceUdid", "abcdef"}, {"Udid", "other"}}), "abcdef", true},
           {"empty device id is not checked", tokenWith({{"deviceUdid", "other"}}), "", true},
           {"claim not a string", tokenWith({{"deviceUdid", 7}}), "abcdef", true},
           {"not a token", "opaque-token", "abcdef", true},
       }) {
    calls_ = {};
    makeFetcher();
    fetcher_->fetchCredentials("bridge-message");
    fetcher_->handleNativeAuthData(authData("4711", c.deviceUdid, c.token));
    EXPECT_EQ(calls_.hasCredentials(), c.accepted) << c.what;
    EXPECT_EQ(fetcher_->authFetchRetries(), c.accepted ? 0 : 1) << c.what;
  }
}

TEST_F(CredentialFetcherTest, TokenDeviceClaimDecoding) {
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(tokenWith({{"deviceUdid", "d1"}})), "d1");
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(tokenWith({{"Udid", "u1"}})), "u1");
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(tokenWith({{"deviceUdid", ""}})), std::nullopt);
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(tokenWith(json::array({1}))), std::nullopt);
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid("onlyonepiece"), std::nullopt);
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid("a.!!!.c"), std::nullopt);
  // Empty pieces are dropped: the claims are the second non-empty piece.
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(".." + tokenWith({{"deviceUdid", "d2"}})), "d2");
  // base64url characters ("-" and "_") decode as "+" and "/".
  const json claims = {{"deviceUdid", "~~~>>>"}, {"pad", "???"}};
  EXPECT_EQ(CredentialFetcher::decodeTokenDeviceUdid(tokenWith(claims)), "~~~>>>");
}

TEST_F(CredentialFetcherTest, UserLoggedInRunsTheScriptAtOnceOutsideTheGuards) {
  fetcher_->fetchCredentials("bridge-message");
  fetcher_->handleUserLoggedIn();  // in flight, and less than 2 s later
  EXPECT_EQ(runs(), 2u);
  EXPECT_TRUE(loggedIn_.empty());  // told on the main queue
  queue_.runUntilIdle();
  EXPECT_THAT(loggedIn_, ElementsAre(true));
  EXPECT_EQ(logged_.back(), "[WebView] userLoggedIn — fetching credentials");
  EXPECT_EQ(fetcher_->authFetchRetries(), 0);
}

TEST_F(CredentialFetcherTest, WithoutAPageTheFetchIsSkippedWithALine) {
  page_.reset();
  fetcher_->fetchCredentials("incoming-call");
  EXPECT_THAT(logged_, ElementsAre("[WebView] credential fetch (incoming-call) skipped — no webView"));
  EXPECT_FALSE(fetcher_->authFetchInFlight());
}

TEST_F(CredentialFetcherTest, SessionRestoreRunsTheScriptOnlyWithoutCredentials) {
  fetcher_->fetchAfterLoad();
  EXPECT_EQ(runs(), 1u);
  EXPECT_EQ(logged_.back(), "[WebView] didFinish — fetching credentials (session restore)");
  fetcher_->fetchCredentials("bridge-message");  // the restore counts as the last start
  EXPECT_EQ(runs(), 1u);
  calls_.setCredentials({"4711", "", "", "", ""});
  fetcher_->fetchAfterLoad();
  EXPECT_EQ(runs(), 1u);
}

TEST_F(CredentialFetcherTest, SignOutClearsCredentialsAndEmptiesOnlyTheDocumentsFolder) {
  calls_.setCredentials({"4711", "", "", "", ""});
  testing::TempDir outside;
  testing::TempDir::writeFile(outside / "keep.txt", "mine");
  testing::TempDir::writeFile(documents_ / "a.pdf", "x");
  std::filesystem::create_directories(documents_ / "sub" / "deeper");
  testing::TempDir::writeFile(documents_ / "sub" / "deeper" / "b.jpg", "y");
  std::filesystem::create_symlink(outside.path(), documents_ / "link");
  fetcher_->handleUserSignedOut();
  EXPECT_FALSE(calls_.hasCredentials());
  EXPECT_EQ(calls_.clearCount, 1);
  EXPECT_TRUE(std::filesystem::is_empty(documents_.path()));
  EXPECT_EQ(testing::TempDir::readFile(outside / "keep.txt"), "mine");
  // An empty folder: only the credentials are cleared.
  fetcher_->handleUserSignedOut();
  EXPECT_EQ(calls_.clearCount, 2);
}

}  // namespace
}  // namespace orvik
