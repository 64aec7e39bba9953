#include "platform/test_support/background_process.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

TEST(BackgroundProcess, CollectsLinesAsTheyComeAndKillsTheProgram) {
  auto process = BackgroundProcess::start({"sh", "-c", "echo \"first $GREETING\"; echo second; exec sleep 600"},
                                          {{"GREETING", "hello"}});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->waitForLine([](const std::string&) { return true; }, 10.0), "first hello");
  EXPECT_EQ(process->waitForLine([](const std::string& l) { return l == "second"; }, 10.0), "second");
  // Looking from index 2 finds nothing: the program prints no more.
  EXPECT_FALSE(process->waitForLine([](const std::string&) { return true; }, 0.05, 2));
  process->kill();
  EXPECT_EQ(process->lines(), (std::vector<std::string>{"first hello", "second"}));
}

TEST(BackgroundProcess, TheEndOfOutputEndsTheWait) {
  auto process = BackgroundProcess::start({"sh", "-c", "echo only"});
  ASSERT_TRUE(process);
  EXPECT_FALSE(process->waitForLine([](const std::string& l) { return l == "never"; }, 60.0));
  EXPECT_EQ(process->lineCount(), 1u);
  EXPECT_FALSE(BackgroundProcess::start({"/nonexistent/program"}));
}

}  // namespace
}  // namespace orvik::testing
