// Test double of WebPage: the test sets the URI and answers (or never
// answers) the scripts the page is asked to evaluate.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "web/web_page.h"

namespace orvik {

class FakeWebPage final : public WebPage {
 public:
  std::optional<std::string> currentURI() const override { return uri; }
  void evaluateForResult(const std::string& script, EvaluationDone done) override {
    evaluated.push_back(script);
    pending.push_back(std::move(done));
  }
  bool reload() override {
    ++reloads;
    return reloadStarts;
  }
  void load(const std::string& loadURI, CachePolicy policy) override { loads.emplace_back(loadURI, policy); }
  bool isInVisibleWindow() const override { return visible; }

  // Answers the oldest pending evaluation.
  void answer(std::optional<std::string> value, std::optional<std::string> error = std::nullopt) {
    auto done = std::move(pending.front());
    pending.pop_front();
    done(std::move(value), std::move(error));
  }
  void answerRendered(bool rendered) {
    answer(std::string(R"({"rendered":)") + (rendered ? "true" : "false") +
           R"(,"hasRoot":true,"readyState":"complete","errors":[]})");
  }

  std::optional<std::string> uri = "https://app.orvikdesk.example/";
  bool visible = true;
  bool reloadStarts = true;
  int reloads = 0;
  std::vector<std::string> evaluated;
  std::deque<EvaluationDone> pending;
  std::vector<std::pair<std::string, CachePolicy>> loads;
};

}  // namespace orvik
