#include "app/keyboard_input_direction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"

namespace orvik {
namespace {

TEST(KeyboardInputDirectionTest, DirectionAndCodeFromTheSourcesFirstLanguage) {
  struct Case {
    std::vector<std::string> languages;
    std::optional<InputDirection> expected;
  };
  const Case cases[] = {
      {{"zh-Hant"}, InputDirection{"ltr", "zh-TW"}}, {{"zh-TW"}, InputDirection{"ltr", "zh-TW"}},
      {{"zh-Hans"}, InputDirection{"ltr", "zh-CN"}}, {{"zh"}, InputDirection{"ltr", "zh-CN"}},
      {{"ar-SA", "en"}, InputDirection{"rtl", "ar"}}, {{"en-US"}, InputDirection{"ltr", "en"}},
      {{"he"}, InputDirection{"rtl", "he"}},         {{"pt-BR"}, InputDirection{"ltr", "pt"}},
      // The code keeps the source's case; only the direction test lowers it.
      {{"FA-IR"}, InputDirection{"rtl", "FA"}},      {{"-ur"}, InputDirection{"rtl", "ur"}},
      {{}, std::nullopt},                            {{""}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.languages.empty() ? "(none)" : c.languages[0]);
    EXPECT_EQ(inputDirectionFor(c.languages), c.expected);
  }
}

class FakeInputSource final : public InputSource {
 public:
  std::vector<std::string> currentLanguages() const override { return languages; }
  std::optional<bool> isRightToLeft() const override { return rtl; }
  void start(std::function<void()> changed) override { switched = std::move(changed); }
  std::vector<std::string> languages;
  std::optional<bool> rtl;
  std::function<void()> switched;
};

TEST(KeyboardInputDirectionTest, EachSwitchTellsThePageAndNothingIsSentAtLaunch) {
  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue(queue);
  auto page = std::make_shared<platform::RecordingPageScriptSink>();
  FakeInputSource source;
  KeyboardInputDirection direction(source, [&] { return page; });
  direction.start();
  queue.runUntilIdle();
  EXPECT_TRUE(page->scripts.empty());

  source.languages = {"ar-SA"};
  source.switched();
  // Only the direction is known: the page still hears it.
  source.languages = {};
  source.rtl = false;
  source.switched();
  // Neither: nothing.
  source.rtl.reset();
  source.switched();
  queue.runUntilIdle();
  EXPECT_THAT(page->scripts, ::testing::ElementsAre(platform::pageFunctionCall("orvikSetInputDirection", {"rtl", "ar"}),
                                                    platform::pageFunctionCall("orvikSetInputDirection", {"ltr", ""})));
}

}  // namespace
}  // namespace orvik
