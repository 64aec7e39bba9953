#include "web/render_check.h"

#include <gtest/gtest.h>

#include "core/recording_load_diagnostics.h"
#include "platform/dispatch/virtual_queue.h"
#include "web/fake_web_page.h"

namespace orvik {
namespace {

TEST(RenderCheckReply, ParsesEveryShapeOfReply) {
  struct Case {
    std::optional<std::string> value;
    std::optional<std::string> error;
    bool rendered;
    std::string details;
  };
  const std::vector<Case> cases = {
      {R"({"rendered":true,"hasRoot":true,"readyState":"complete","errors":[]})", {}, true,
       "hasRoot=true readyState=complete jsErrors=none"},
      {R"({"rendered":false,"hasRoot":true,"readyState":"interactive","errors":["js error: x @ a.js:1:2","b"]})", {},
       false, "hasRoot=true readyState=interactive jsErrors=[js error: x @ a.js:1:2 | b]"},
      {R"({"rendered":false,"hasRoot":false,"readyState":"loading"})", {}, false,
       "hasRoot=false readyState=loading jsErrors=none"},
      // Mistyped members count as absent.
      {R"({"rendered":"yes","hasRoot":1,"readyState":4,"errors":["a",3]})", {}, false,
       "hasRoot=false readyState=? jsErrors=none"},
      {R"({})", {}, false, "hasRoot=false readyState=? jsErrors=none"},
      {R"([1,2])", {}, false, "evalError=no result"},
      {"not json", {}, false, "evalError=no result"},
      {std::nullopt, {}, false, "evalError=no result"},
      {std::nullopt, "ReferenceError: x", false, "evalError=ReferenceError: x"},
  };
  for (const auto& c : cases) {
    const auto result = parseRenderCheckReply(c.value, c.error);
    EXPECT_EQ(result.rendered, c.rendered) << c.value.value_or("(none)");
    EXPECT_EQ(result.details, c.details) << c.value.value_or("(none)");
  }
}

class RenderCheckRunnerTest : public ::testing::Test {
 protected:
  void run() {
    runRenderCheck(queue_, diagnostics_, page_, [this](RenderCheckResult result) { answers_.push_back(result); });
  }
  platform::VirtualQueue queue_;
  RecordingLoadDiagnostics diagnostics_;
  std::shared_ptr<FakeWebPage> page_ = std::make_shared<FakeWebPage>();
  std::vector<RenderCheckResult> answers_;
};

TEST_F(RenderCheckRunnerTest, AReplyAnswersOnceAndTheTimeOutThenDoesNothing) {
  run();
  ASSERT_EQ(page_->evaluated, std::vector<std::string>{kRenderCheckScript});
  page_->answerRendered(true);
  queue_.advance(30.0);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_TRUE(answers_[0].rendered);
}

TEST_F(RenderCheckRunnerTest, NoReplyWithinTenSecondsAnswersUnresponsiveAndALateReplyIsIgnored) {
  run();
  queue_.advance(9.9);
  EXPECT_TRUE(answers_.empty());
  queue_.advance(0.1);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_FALSE(answers_[0].rendered);
  EXPECT_EQ(answers_[0].details, "unresponsive=evaluateJavaScript no reply in 10s");
  page_->answerRendered(true);
  queue_.runUntilIdle();
  EXPECT_EQ(answers_.size(), 1u);
}

TEST_F(RenderCheckRunnerTest, PagesOutsideTheWebSchemesAreNotAsked) {
  struct Case {
    std::optional<std::string> uri;
    bool rendered;
    std::string details;
  };
  const std::vector<Case> cases = {
      {"file:///home/u/page.html?x=1", true, "url=file:///home/u/page.html"},
      {"orvikfile://x/y", true, "url=orvikfile://x/y"},
      {"about:blank", true, "url=about:blank"},
      {std::nullopt, false, "url=nil"},
  };
  for (const auto& c : cases) {
    answers_.clear();
    page_->uri = c.uri;
    run();
    ASSERT_EQ(answers_.size(), 1u);
    EXPECT_EQ(answers_[0].rendered, c.rendered);
    EXPECT_EQ(answers_[0].details, c.details);
  }
  EXPECT_TRUE(page_->evaluated.empty());
  page_->uri = "HTTP://app.orvikdesk.example/";
  run();
  EXPECT_EQ(page_->evaluated.size(), 1u);
}

TEST_F(RenderCheckRunnerTest, AVanishedPageAnswersAtOnce) {
  page_.reset();
  run();
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].details, "webView=nil");
}

}  // namespace
}  // namespace orvik
