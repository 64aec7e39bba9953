#include "platform/page_call.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/platform_log.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/log_capture.h"
#include "platform/test_support/subprocess.h"

namespace orvik::platform {
namespace {

TEST(PageCall, GuardsTheCallAndEncodesEveryArgumentAsJson) {
  EXPECT_EQ(pageFunctionCall("__orvikOnTheme", {true, 3, "it's", nullptr}),
            "if (typeof window.__orvikOnTheme === 'function') window.__orvikOnTheme(true, 3, \"it's\", null);");
  EXPECT_EQ(pageFunctionCall("onReady"), "if (typeof window.onReady === 'function') window.onReady();");
  EXPECT_EQ(pageMethodCall("__orvikNativeConsole", "warn", {"x"}),
            "if (window.__orvikNativeConsole && typeof window.__orvikNativeConsole.warn === 'function') "
            "window.__orvikNativeConsole.warn(\"x\");");
  EXPECT_EQ(pageFunctionCall("f", {nlohmann::json{{"path", "/a'b"}}}),
            "if (typeof window.f === 'function') window.f({\"path\":\"/a'b\"});");
}

TEST(PageCall, EscapesLineSeparatorsAndReplacesInvalidUtf8) {
  EXPECT_EQ(jsLiteral("a\u2028b\u2029c"), "\"a\\u2028b\\u2029c\"");
  EXPECT_EQ(jsLiteral(std::string("bad\xff")), "\"bad\xef\xbf\xbd\"");
  EXPECT_EQ(jsLiteral("</script>\n"), "\"</script>\\n\"");
}

TEST(PageCall, AValueNestedDeeperThanAnyMessageGoesAsNull) {
  nlohmann::json deep = nlohmann::json::array();
  for (int i = 0; i < 200000; ++i) deep = nlohmann::json::array({std::move(deep)});
  EXPECT_EQ(jsLiteral(deep), "null");
  std::vector<nlohmann::json> args;
  args.emplace_back(1);
  args.push_back(std::move(deep));  // moved: a copy would recurse as deeply
  EXPECT_EQ(pageFunctionCall("f", args), "if (typeof window.f === 'function') window.f(1, null);");
  nlohmann::json shallow = 1;
  for (int i = 0; i < 64; ++i) shallow = nlohmann::json::array({std::move(shallow)});
  EXPECT_EQ(jsLiteral(shallow), std::string(64, '[') + "1" + std::string(64, ']'));
}

TEST(PageCall, RefusesNamesThatAreNotIdentifiers) {
  const orvik::testing::LogCapture quiet(orvik::testing::LogCapture::Source::platformLog);
  for (const char* name : {"", "a.b", "f()", "x;alert(1)", "1abc", "a b"}) {
    EXPECT_EQ(pageFunctionCall(name, {1}), "") << name;
    EXPECT_EQ(pageMethodCall("obj", name), "") << name;
  }
  EXPECT_TRUE(isPageIdentifier("$_a9"));
}

TEST(PageCall, EvaluatesOnTheMainQueueOnlyWhileTheSinkLives) {
  VirtualQueue queue;
  ScopedMainQueue main(queue);
  auto sink = std::make_shared<RecordingPageScriptSink>();
  callPage(sink, "first();");
  callPage(sink, "");
  EXPECT_TRUE(sink->scripts.empty());
  queue.runUntilIdle();
  EXPECT_EQ(sink->scripts, std::vector<std::string>{"first();"});

  std::weak_ptr<RecordingPageScriptSink> watch = sink;
  callPage(sink, "second();");
  sink.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(queue.runUntilIdle(), 1u);
}

TEST(PageCall, PresenceReportingCallsAndObjectLiterals) {
  const std::string object = jsObjectLiteral({{"toUserNumber", "+47 \"9\"\n"}, {"isAudio", true}, {"callId", nullptr}}).text;
  EXPECT_EQ(object, "{ toUserNumber: \"+47 \\\"9\\\"\\n\", isAudio: true, callId: null }");
  EXPECT_EQ(pageFunctionCallReportingPresence("__orvikUpdateCallStatus", {"missed", 12}),
            "(function(){ if (window.__orvikUpdateCallStatus) { window.__orvikUpdateCallStatus(\"missed\", 12); "
            "return true; } return false; })();");
  EXPECT_EQ(pageFunctionCallReportingPresence("f", {jsObjectLiteral({{"a", 1}})}),
            "(function(){ if (window.f) { window.f({ a: 1 }); return true; } return false; })();");
}

TEST(PageCall, ResultsComeBackThroughTheMainQueue) {
  VirtualQueue queue;
  ScopedMainQueue main(queue);
  auto sink = std::make_shared<RecordingPageScriptSink>();
  sink->reply = [](const std::string&) { return PageScriptResult{std::nullopt, true}; };
  std::vector<nlohmann::json> results;
  callPage(sink, "x();", [&](const PageScriptResult& r) { results.push_back(r.value); });
  EXPECT_TRUE(results.empty());
  queue.runUntilIdle();
  EXPECT_EQ(results, std::vector<nlohmann::json>{true});
}

// Evaluates the built script in a real JavaScript engine and checks that the
// page function receives exactly the arguments the native side passed.
TEST(PageCallIntegration, ArgumentsArriveUnchangedInARealJavaScriptEngine) {
  if (!orvik::testing::hasProgram("node")) GTEST_SKIP() << "node is not installed";
  const std::vector<nlohmann::json> args = {
      "apostrophe ' backslash \\ quote \" CR \r LF \n LS \u2028 PS \u2029 end",
      "emoji 📞 and </script>",
      nlohmann::json{{"nested", {1, 2.5, false, nullptr}}},
  };
  const std::string script = pageFunctionCall("receive", args);
  const std::string program =
      "const window = globalThis;\n"
      "window.receive = (...a) => process.stdout.write(JSON.stringify(a));\n" +
      script + "\n";
  auto result = orvik::testing::runProcess({"node", "-e", program});
  ASSERT_EQ(result.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(result.output), nlohmann::json(args));
}

}  // namespace
}  // namespace orvik::platform
