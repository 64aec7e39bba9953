#include "platform/user_defaults.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "platform/platform_log.h"
#include "platform/test_support/log_capture.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

using orvik::testing::TempDir;
namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
 protected:

  fs::path file() const { return dir / "com.orvik.desk/defaults.json"; }

  TempDir dir;
  orvik::testing::LogCapture log{orvik::testing::LogCapture::Source::platformLog};
};

TEST_F(UserDefaultsTest, TypedValuesSurviveARestart) {
  {
    UserDefaults defaults(file());
    defaults.setBool("app_isDarkMode", false);
    defaults.setInteger("count", 42);
    defaults.setDouble("volume", 0.25);
    defaults.setString("orvik.incomingCallRingtone", "Chime 'two' \u2028");
    defaults.setStringList("list", {"a", "b"});
    defaults.setDictionary("mainWindowFrame", {{"x", 10}, {"y", 20}});
  }
  UserDefaults reread(file());
  EXPECT_EQ(reread.optionalBool("app_isDarkMode"), false);
  EXPECT_EQ(reread.integer("count"), 42);
  EXPECT_DOUBLE_EQ(reread.doubleValue("volume"), 0.25);
  EXPECT_EQ(reread.string("orvik.incomingCallRingtone"), "Chime 'two' \u2028");
  EXPECT_EQ(reread.stringList("list"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(reread.dictionary("mainWindowFrame")->at("y"), 20);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(UserDefaultsTest, AbsentIsDistinctFromRegisteredDefaults) {
  UserDefaults defaults(file());
  EXPECT_FALSE(defaults.object("staleReloadSeconds"));
  EXPECT_EQ(defaults.integer("staleReloadSeconds"), 0);
  EXPECT_FALSE(defaults.optionalInteger("staleReloadSeconds"));

  defaults.registerDefaults({{"staleReloadSeconds", 600}, {"NSAutomaticWindowAnimationsEnabled", false}});
  EXPECT_EQ(defaults.integer("staleReloadSeconds"), 600);
  EXPECT_FALSE(defaults.hasStoredValue("staleReloadSeconds"));
  EXPECT_EQ(defaults.optionalBool("NSAutomaticWindowAnimationsEnabled"), false);

  defaults.setInteger("staleReloadSeconds", 30);
  EXPECT_EQ(defaults.integer("staleReloadSeconds"), 30);
  EXPECT_TRUE(defaults.hasStoredValue("staleReloadSeconds"));
  defaults.remove("staleReloadSeconds");
  EXPECT_EQ(defaults.integer("staleReloadSeconds"), 600);

  // Registered defaults never reach the file.
  EXPECT_EQ(UserDefaults(file()).object("NSAutomaticWindowAnimationsEnabled"), std::nullopt);
}

TEST_F(UserDefaultsTest, MistypedValuesReadAsAbsent) {
  UserDefaults defaults(file());
  defaults.setString("flag", "yes");
  defaults.setInteger("number", 3);
  defaults.setStringList("mixed", {"a"});
  EXPECT_EQ(defaults.optionalBool("flag"), std::nullopt);
  EXPECT_FALSE(defaults.boolValue("flag"));
  EXPECT_EQ(defaults.string("number"), std::nullopt);
  EXPECT_EQ(defaults.dictionary("number"), std::nullopt);
  EXPECT_EQ(defaults.optionalBool("number"), true);
  EXPECT_DOUBLE_EQ(defaults.doubleValue("number"), 3.0);
  EXPECT_EQ(defaults.stringList("flag"), std::nullopt);
}

TEST_F(UserDefaultsTest, NumbersBeyondSixtyFourBitsAreNoIntegers) {
  TempDir::writeFile(file(), R"({"huge": 1e30, "unsigned": 18446744073709551615, "negative": -1e19,
                                "fraction": 41.9, "max": 9223372036854775807, "flag": true})");
  UserDefaults defaults(file());
  EXPECT_EQ(defaults.optionalInteger("huge"), std::nullopt);
  EXPECT_EQ(defaults.optionalInteger("unsigned"), std::nullopt);
  EXPECT_EQ(defaults.optionalInteger("negative"), std::nullopt);
  EXPECT_EQ(defaults.integer("huge"), 0);
  EXPECT_EQ(defaults.optionalInteger("fraction"), 41);
  EXPECT_EQ(defaults.optionalInteger("max"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(defaults.optionalInteger("flag"), 1);
}

struct CorruptCase {
  const char* name;
  std::string contents;
};

class UserDefaultsCorruptTest : public UserDefaultsTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(UserDefaultsCorruptTest, CorruptFileIsKeptAsideAndTheStoreStartsEmpty) {
  TempDir::writeFile(file(), GetParam().contents);
  UserDefaults defaults(file());
  EXPECT_FALSE(defaults.object("anything"));
  EXPECT_EQ(TempDir::readFile(fs::path(file()).concat(".corrupt")), GetParam().contents);
  const auto logged = log.lines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("corrupt"), std::string::npos);

  defaults.setBool("written", true);
  EXPECT_EQ(UserDefaults(file()).optionalBool("written"), true);
  EXPECT_EQ(TempDir::readFile(fs::path(file()).concat(".corrupt")), GetParam().contents);
}

INSTANTIATE_TEST_SUITE_P(Contents, UserDefaultsCorruptTest,
                         ::testing::Values(CorruptCase{"Garbage", "{\"a\": tru"}, CorruptCase{"Empty", ""},
                                           CorruptCase{"NotAnObject", "[1, 2]"},
                                           CorruptCase{"BinaryNoise", "\x01\x02\xff"},
                                           // Valid, but every later write would print it recursively.
                                           CorruptCase{"NestedTooDeeply", "{\"a\":" + std::string(100000, '[') +
                                                                              std::string(100000, ']') + "}"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UserDefaultsTest, ASecondCorruptionDoesNotOverwriteTheFirstEvidence) {
  TempDir::writeFile(file(), "first");
  { UserDefaults defaults(file()); }
  TempDir::writeFile(file(), "second");
  { UserDefaults defaults(file()); }
  EXPECT_EQ(TempDir::readFile(fs::path(file()).concat(".corrupt")), "first");
  EXPECT_EQ(TempDir::readFile(fs::path(file()).concat(".corrupt-2")), "second");
}

TEST_F(UserDefaultsTest, FailedWriteIsLoggedAndTheValueStaysInMemory) {
  // A regular file where the settings folder should be makes every write fail.
  TempDir::writeFile(dir / "blocked", "x");
  UserDefaults defaults(dir / "blocked/defaults.json");
  defaults.setBool("key", true);
  EXPECT_FALSE(defaults.lastWriteSucceeded());
  EXPECT_EQ(defaults.optionalBool("key"), true);
  const auto logged = log.lines();
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged.back().find("could not save settings"), std::string::npos);
}

TEST_F(UserDefaultsTest, WritesAreAtomicAndLeaveNoTemporaryFiles) {
  UserDefaults defaults(file());
  for (int i = 0; i < 20; ++i) defaults.setInteger("i", i);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(file().parent_path())) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"defaults.json"});
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
  UserDefaults defaults(file());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) defaults.setInteger("k" + std::to_string(t) + "_" + std::to_string(i), i);
    });
  }
  for (auto& thread : threads) thread.join();
  UserDefaults reread(file());
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) EXPECT_EQ(reread.optionalInteger("k" + std::to_string(t) + "_" + std::to_string(i)), i);
  }
}

}  // namespace
}  // namespace orvik::platform
