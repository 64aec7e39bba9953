#include "core/native_logger.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/subprocess.h"

namespace orvik {
namespace {

using platform::RecordingPageScriptSink;
using platform::ScopedMainQueue;
using platform::VirtualQueue;

struct MuteCase {
  const char* message;
  bool muted;
};

class MuteTest : public ::testing::TestWithParam<MuteCase> {};

TEST_P(MuteTest, MutesOnlyCallEngineTagsNearTheStart) {
  EXPECT_EQ(isMutedCallLogLine(GetParam().message), GetParam().muted) << GetParam().message;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MuteTest,
    ::testing::Values(
        MuteCase{"📞 [IncomingCall] ringing", true}, MuteCase{"📞 [CallFlow] ringing", false},
        MuteCase{"📞 [WebView] loaded", false}, MuteCase{"[NativeCallMgr] state", true},
        MuteCase{"abcd[CALL] x", true}, MuteCase{"abcde[CALL] x", false},
        MuteCase{"[Call] x", false}, MuteCase{"[CALL x", false}, MuteCase{"[] x", false},
        MuteCase{"[WebView] then [Signaling]", false}, MuteCase{"no bracket at all", false},
        MuteCase{"", false}, MuteCase{"[Signaling]", true}, MuteCase{"[signaling] lower case", false},
        // Four user-perceived characters, whatever their bytes: a family emoji
        // joined by ZWJs, a flag and a skin-toned hand are one character each.
        MuteCase{"👨‍👩‍👧‍👦🇳🇴👋🏽 [PeerConn] x", true}, MuteCase{"👨‍👩‍👧‍👦🇳🇴👋🏽a [PeerConn] x", false},
        MuteCase{"e\u0301e\u0301e\u0301 [ICEMgr] x", true}, MuteCase{"e\u0301e\u0301e\u0301ee[ICEMgr] x", false},
        MuteCase{"\r\n\r\n\r\n\r\n[CALL] crlf pairs are single characters", true},
        MuteCase{"\r\n\r\n\r\n\r\n\r[CALL] five", false}, MuteCase{"é [CallAudio] x", true}),
    [](const auto& info) { return "Line" + std::to_string(info.index); });

class NativeLoggerTest : public ::testing::Test {
 protected:
  std::shared_ptr<NativeLogger> makeLogger() {
    return std::make_shared<NativeLogger>([this](const std::string& line) { printed.push_back(line); });
  }

  VirtualQueue queue;
  ScopedMainQueue main{queue};
  std::shared_ptr<RecordingPageScriptSink> sink = std::make_shared<RecordingPageScriptSink>();
  std::vector<std::string> printed;
};

TEST_F(NativeLoggerTest, MutedMessagesAreNeitherPrintedNorEmitted) {
  auto logger = makeLogger();
  logger->log("📞 [IncomingCall] ring", "NATIVE", NativeLogger::ForwardToWeb{true});
  EXPECT_TRUE(printed.empty());
  EXPECT_TRUE(logger->pendingLines().empty());
  logger->log("[WebView] loaded", "NATIVE", NativeLogger::ForwardToWeb{true});
  EXPECT_EQ(printed, std::vector<std::string>{"[NATIVE] [WebView] loaded"});
  EXPECT_EQ(logger->pendingLines().size(), 1u);
}

TEST_F(NativeLoggerTest, ExplicitLevelBypassesTheMuteTest) {
  auto logger = makeLogger();
  logger->warn("[Signaling] reconnect failed", "NATIVE");
  EXPECT_EQ(printed, std::vector<std::string>{"[NATIVE] [Signaling] reconnect failed"});
  ASSERT_EQ(logger->pendingLines().size(), 1u);
  EXPECT_EQ(logger->pendingLines()[0].second, "warn");
}

TEST_F(NativeLoggerTest, EchoWithoutForwardingIsPrintedButNeverBufferedOrSent) {
  auto logger = makeLogger();
  logger->attachWebView(sink);
  logger->setReady();
  logger->setWebConsoleAllowed(true);
  logger->log("page says hi", "JS", NativeLogger::ForwardToWeb{false});
  queue.runUntilIdle();
  EXPECT_EQ(printed, std::vector<std::string>{"[JS] page says hi"});
  EXPECT_TRUE(logger->pendingLines().empty());
  EXPECT_TRUE(sink->scripts.empty());
}

TEST_F(NativeLoggerTest, KeepsTheNewest400LinesAndForwardsThemInOrderOnceAllowed) {
  auto logger = makeLogger();
  logger->attachWebView(sink);
  for (int i = 0; i < 401; ++i) logger->emit("line " + std::to_string(i), "log");
  auto pending = logger->pendingLines();
  ASSERT_EQ(pending.size(), 400u);
  EXPECT_EQ(pending.front().first, "line 1");

  logger->setWebConsoleAllowed(true);  // not ready yet: stays buffered
  queue.runUntilIdle();
  EXPECT_TRUE(sink->scripts.empty());
  EXPECT_EQ(logger->pendingLines().size(), 400u);

  logger->setReady();
  logger->flushPending();
  queue.runUntilIdle();
  ASSERT_EQ(sink->scripts.size(), 400u);
  EXPECT_EQ(sink->scripts.front(), NativeLogger::consoleScript("line 1", "log"));
  EXPECT_EQ(sink->scripts.back(), NativeLogger::consoleScript("line 400", "log"));
  EXPECT_TRUE(logger->pendingLines().empty());

  logger->emit("live", "error");
  queue.runUntilIdle();
  EXPECT_EQ(sink->scripts.back(), NativeLogger::consoleScript("live", "error"));
}

TEST_F(NativeLoggerTest, DenyingThePermissionDropsTheBufferAndLaterLines) {
  auto logger = makeLogger();
  logger->attachWebView(sink);
  logger->setReady();
  logger->emit("before", "log");
  logger->setWebConsoleAllowed(false);
  EXPECT_TRUE(logger->pendingLines().empty());
  logger->emit("after", "log");
  queue.runUntilIdle();
  EXPECT_TRUE(logger->pendingLines().empty());
  EXPECT_TRUE(sink->scripts.empty());
}

TEST_F(NativeLoggerTest, LinesWaitWhileTheWebViewIsGone) {
  auto logger = makeLogger();
  logger->setReady();
  logger->setWebConsoleAllowed(true);
  logger->emit("no view yet", "log");
  EXPECT_EQ(logger->pendingLines().size(), 1u);
  logger->attachWebView(sink);
  logger->flushPending();
  queue.runUntilIdle();
  EXPECT_EQ(sink->scripts.size(), 1u);
}

TEST_F(NativeLoggerTest, UnknownLevelsGoToTheConsoleLogFunction) {
  EXPECT_EQ(NativeLogger::consoleScript("x", "info"), NativeLogger::consoleScript("x", "log"));
  EXPECT_NE(NativeLogger::consoleScript("x", "warn"), NativeLogger::consoleScript("x", "log"));
  EXPECT_NE(NativeLogger::consoleScript("x", "info").find("__orvikNativeConsole.log("), std::string::npos);
}

TEST(ShortToken, ShowsEightCharactersAndTheLength) {
  EXPECT_EQ(shortToken("abcdefghijklmnopqrst"), "abcdefgh…(len=20)");
  EXPECT_EQ(shortToken(""), "EMPTY");
  EXPECT_EQ(shortToken("åß"), "åß…(len=2)");
  EXPECT_EQ(firstCharacters("ééééééééé", 8), "éééééééé");
}

// The produced console script, run by a real JavaScript engine, hands the page
// console exactly "📱 " followed by the line.
TEST(NativeLoggerIntegration, LinesReachThePageConsoleUnchanged) {
  if (!orvik::testing::hasProgram("node")) GTEST_SKIP() << "node is not installed";
  const std::string line = "it's a \\ back\rslash\nand \u2028 and \u2029 end";
  for (const char* level : {"log", "warn", "error", "info"}) {
    const std::string program =
        "const window = globalThis; const seen = [];\n"
        "window.__orvikNativeConsole = {log: (s) => seen.push(['log', s]), warn: (s) => seen.push(['warn', s]),"
        " error: (s) => seen.push(['error', s])};\n" +
        NativeLogger::consoleScript(line, level) + "\nprocess.stdout.write(JSON.stringify(seen));\n";
    auto result = orvik::testing::runProcess({"node", "-e", program});
    ASSERT_EQ(result.exitCode, 0);
    const std::string expectedLevel = std::string(level) == "info" ? "log" : level;
    EXPECT_EQ(nlohmann::json::parse(result.output), nlohmann::json::array({{expectedLevel, "📱 " + line}}));
  }
  // Without the page object nothing happens and nothing throws.
  auto result = orvik::testing::runProcess(
      {"node", "-e", "const window = globalThis;\n" + NativeLogger::consoleScript(line, "log")});
  EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
}  // namespace orvik
