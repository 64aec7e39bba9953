#include "web/web_session.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <optional>
#include <string>

#include "platform/test_support/main_loop.h"

namespace orvik {
namespace {

// A web view of the session and what its last load ended with.
class WebSessionIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    session_ = std::make_unique<WebSession>(WebSession::Storage::ephemeral);
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", session_->context(), "network-session",
                                         session_->networkSession(), nullptr));
    g_object_ref_sink(view_);
    g_signal_connect(view_, "load-failed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error,
                                                          gpointer self) -> gboolean {
                       static_cast<WebSessionIntegration*>(self)->failure_ = error->message;
                       return TRUE;
                     }),
                     this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                       if (event == WEBKIT_LOAD_FINISHED) static_cast<WebSessionIntegration*>(self)->finished_ = true;
                     }),
                     this);
  }

  void TearDown() override {
    if (view_) g_object_unref(view_);
  }

  void load(const std::string& uri) {
    failure_.reset();
    finished_ = false;
    webkit_web_view_load_uri(view_, uri.c_str());
    ASSERT_TRUE(testing::runMainLoopUntil([&] { return finished_; }));
  }

  std::unique_ptr<WebSession> session_;
  WebKitWebView* view_ = nullptr;
  std::optional<std::string> failure_;
  bool finished_ = false;
};

TEST_F(WebSessionIntegration, ALocalSchemeFailsUntilItHasAHandlerAndThenReachesIt) {
  load(std::string(platform::kOrvikUploadScheme) + "://picked/1");
  ASSERT_TRUE(failure_.has_value());
  EXPECT_EQ(*failure_, "orvikupload:// is not available in this build");

  std::string asked;
  session_->setSchemeHandler(platform::kOrvikUploadScheme, [&](WebKitURISchemeRequest* request) {
    asked = webkit_uri_scheme_request_get_uri(request);
    GInputStream* body = g_memory_input_stream_new_from_data("<p>ok</p>", 9, nullptr);
    webkit_uri_scheme_request_finish(request, body, 9, "text/html");
    g_object_unref(body);
  });
  load(std::string(platform::kOrvikUploadScheme) + "://picked/2");
  EXPECT_FALSE(failure_.has_value()) << *failure_;
  EXPECT_EQ(asked, "orvikupload://picked/2");
}

}  // namespace
}  // namespace orvik
