// The call-record bridge's scripts in a real WebKit page: each report calls
// its page function exactly once with the argument objects the web
// application expects, whatever the remote number holds.
#include <gtest/gtest.h>
#include <webkit/webkit.h>

#include "calls/signaling/native_call_log_bridge.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/main_loop.h"
#include "web/web_view_host.h"

namespace orvik {
namespace {

using nlohmann::json;

// Page functions that record how they were called; __orvikDeleteCallRecord is
// left out on purpose.
constexpr const char* kPage = R"(<!doctype html><script>
window.calls = [];
for (const name of ['__orvikLogNativeCall', '__orvikLogNativeIncomingCall', '__orvikLogNativeIncomingRejectedCall',
                    '__orvikUpdateCallStatus', '__orvikEndOutgoingCallOnServer', '__orvikPostRejectCallApi']) {
  window[name] = (...args) => window.calls.push([name, ...args]);
}
</script>)";

class CallLogBridgePageIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    view_ = WEBKIT_WEB_VIEW(g_object_ref_sink(webkit_web_view_new()));
    bool loaded = false;
    g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer done) {
                       if (event == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(done) = true;
                     }),
                     &loaded);
    webkit_web_view_load_html(view_, kPage, "https://app.orvik.test/");
    ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return loaded; }));
    g_signal_handlers_disconnect_by_data(view_, &loaded);
    page_ = std::make_shared<WebViewPage>(view_);
  }
  void TearDown() override {
    page_.reset();
    if (view_) g_object_unref(view_);
  }

  CallLogContext context(CallDirection direction, std::optional<std::int64_t> callId, bool connected) {
    CallLogContext c;
    c.direction = direction;
    c.callId = callId;
    c.remoteUserNumber = "+47 \"12\"\n'3\u2028";
    c.isAudio = false;
    c.sessionId = "session-" + std::to_string(++sessions_);
    if (connected) c.connectedAt = clock_.now() - std::chrono::seconds(5);
    c.webView = page_;
    return c;
  }

  // Everything the page functions received: read through the main queue, so
  // after every report queued before it.
  json pageCalls() {
    std::optional<json> calls;
    platform::callPage(page_, "JSON.stringify(window.calls)", [&](const platform::PageScriptResult& r) {
      calls = r.value.is_string() ? json::parse(r.value.get<std::string>()) : json();
    });
    orvik::testing::runMainLoopUntil([&] { return calls.has_value(); });
    return calls.value_or(json());
  }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  WebKitWebView* view_ = nullptr;
  std::shared_ptr<WebViewPage> page_;
  int sessions_ = 0;
  std::vector<std::string> lines_;
  platform::VirtualClock clock_;
  NativeCallLogBridge bridge_{&clock_, [this](const std::string& line) { lines_.push_back(line); }};
};

TEST_F(CallLogBridgePageIntegration, EachReportReachesItsPageFunctionOnce) {
  const std::string number = "+47 \"12\"\n'3\u2028";
  bridge_.finalize(context(CallDirection::outgoing, 11, true), "endCall");  // outgoing, connected
  bridge_.clearLogged();
  bridge_.finalize(context(CallDirection::incoming, 12, true), "remoteEnd");  // incoming, connected
  bridge_.clearLogged();
  const CallLogContext declined = context(CallDirection::incoming, 13, false);
  bridge_.sendStatus("missed", declined, "reject");
  bridge_.postRejectApi(declined);
  bridge_.logRejected(declined, "reject");
  bridge_.clearLogged();
  bridge_.finalize(context(CallDirection::outgoing, std::nullopt, false), "ringTimeout");  // unanswered

  const json calls = pageCalls();
  ASSERT_TRUE(calls.is_array()) << calls.dump();
  ASSERT_EQ(calls.size(), 8u) << calls.dump();
  EXPECT_EQ(calls[0], json::array({"__orvikLogNativeCall", {{"toUserNumber", number}, {"isAudio", false},
                                   {"wasConnected", true}, {"durationSeconds", 5}, {"callId", 11},
                                   {"sessionKey", "session-1"}}}));
  EXPECT_EQ(calls[1], json::array({"__orvikLogNativeIncomingCall", {{"fromUserNumber", number}, {"isAudio", false},
                                   {"wasConnected", true}, {"durationSeconds", 5}, {"callId", 12}}}));
  EXPECT_EQ(calls[2], json::array({"__orvikUpdateCallStatus", "complete", 12}));
  EXPECT_EQ(calls[3], json::array({"__orvikUpdateCallStatus", "missed", 13}));
  EXPECT_EQ(calls[4], json::array({"__orvikPostRejectCallApi", "session-3"}));
  EXPECT_EQ(calls[5], json::array({"__orvikLogNativeIncomingRejectedCall",
                                   {{"fromUserNumber", number}, {"isAudio", false}, {"callId", 13}}}));
  EXPECT_EQ(calls[6], json::array({"__orvikLogNativeCall", {{"toUserNumber", number}, {"isAudio", false},
                                   {"wasConnected", false}, {"durationSeconds", 0}, {"callId", nullptr},
                                   {"sessionKey", "session-4"}}}));
  EXPECT_EQ(calls[7], json::array({"__orvikEndOutgoingCallOnServer", {{"otherUserId", "47123"}, {"status", "missed"},
                                   {"callId", nullptr}, {"skipApi", false}}}));
  EXPECT_TRUE(std::any_of(lines_.begin(), lines_.end(), [](const auto& l) {
    return l == "[CallEnd] serverEnd — JS path: ordered";
  }));
}

TEST_F(CallLogBridgePageIntegration, AMissingPageFunctionIsLoggedNotAnError) {
  platform::callPage(page_, "delete window.__orvikLogNativeCall;");
  bridge_.logOutgoing(context(CallDirection::outgoing, 21, false), "endCall");
  const std::string notFound = "[CallLog] logOutgoing — window.__orvikLogNativeCall NOT FOUND in JS, nothing was logged";
  EXPECT_TRUE(orvik::testing::runMainLoopUntil(
      [&] { return std::find(lines_.begin(), lines_.end(), notFound) != lines_.end(); }));
  EXPECT_EQ(pageCalls(), json::array());
}

}  // namespace
}  // namespace orvik
