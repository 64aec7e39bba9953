#include "core/debug_log_manager.h"

#include <time.h>

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;
using orvik::testing::ScopedEnvironment;
using orvik::testing::TempDir;
using platform::ScopedMainQueue;
using platform::VirtualQueue;

const std::string kRule = std::string(80, '-');

class DebugLogManagerTest : public ::testing::Test {
 protected:
  DebugLogManagerTest() { useTimeZone("UTC"); }
  ~DebugLogManagerTest() override { tzset(); }

  void useTimeZone(const std::string& zone) {
    environment.set("TZ", zone);
    tzset();
  }

  std::string todayText() { return TempDir::readFile(manager.dayFile(queue.clock().now())); }

  std::optional<std::string> content() {
    std::optional<std::string> result = "not called";
    manager.getLogContent([&](std::optional<std::string> text) { result = std::move(text); });
    manager.flush();
    queue.runUntilIdle();
    return result;
  }
  std::int64_t size() {
    std::int64_t result = -1;
    manager.getLogSize([&](std::int64_t bytes) { result = bytes; });
    manager.flush();
    queue.runUntilIdle();
    return result;
  }

  ScopedEnvironment environment;
  TempDir dir;
  VirtualQueue queue;  // its clock starts at 2026-01-01T00:00:00Z
  ScopedMainQueue main{queue};
  DebugLogManager manager{dir / "com.orvik.desk", &queue.clock()};
};

TEST_F(DebugLogManagerTest, SecretKeysAreMaskedInTheMiddle) {
  struct Case {
    const char* key;
    const char* masked;
  };
  for (const Case& c : {Case{"abcdefghijk", "abcde*ghijk"}, Case{"abcdefghij", "abcdefghij"},
                        Case{"0123456789abcdefghij", "01234**********fghij"}, Case{"-", "-"}, Case{"", ""},
                        Case{"ключ-секрет-длинный", "ключ-*********инный"}}) {
    EXPECT_EQ(DebugLogManager::maskedSecretKey(c.key), c.masked) << c.key;
  }
}

TEST_F(DebugLogManagerTest, EntryTextHasTheHeaderTheSortedMessageAndTheRule) {
  const nlohmann::json entry = {{"time", 1767268800123.0},  // 2026-01-01T12:00:00.123Z
                                {"userNumber", "4711"},
                                {"from", "alice"},
                                {"to", "bob"},
                                {"conversationId", "c-9"},
                                {"secretKey", "abcdefghijklmnop"},
                                {"message", {{"zeta", 1}, {"alpha", {{"b", true}, {"a", "x/y"}}}}}};
  EXPECT_EQ(DebugLogManager::formatEntry(entry, queue.clock().now()),
            "[2026-01-01 12:00:00.123] userNumber=4711 from=alice to=bob conversationId=c-9 secretKey=abcde******lmnop\n"
            "{\n"
            "  \"alpha\": {\n"
            "    \"a\": \"x/y\",\n"
            "    \"b\": true\n"
            "  },\n"
            "  \"zeta\": 1\n"
            "}\n" +
                kRule + "\n");
}

TEST_F(DebugLogManagerTest, MissingOrMistypedFieldsArePlaceholdersAndTheTimeIsNow) {
  queue.clock().advance(3723.5);  // 01:02:03.500
  const std::string expectedHeader =
      "[2026-01-01 01:02:03.500] userNumber=- from=- to=- conversationId=- secretKey=-\n-\n" + kRule + "\n";
  for (const nlohmann::json& entry :
       {nlohmann::json::object(), nlohmann::json{{"time", 0}, {"message", "plain text"}},
        nlohmann::json{{"time", -5}, {"userNumber", 4711}, {"message", 42}},
        nlohmann::json{{"time", "1767268800123"}, {"from", nullptr}}, nlohmann::json{{"time", 1e300}}}) {
    EXPECT_EQ(DebugLogManager::formatEntry(entry, queue.clock().now()), expectedHeader) << entry.dump();
  }
  EXPECT_EQ(DebugLogManager::formatEntry({{"message", nlohmann::json::array({1, "two"})}}, queue.clock().now()),
            "[2026-01-01 01:02:03.500] userNumber=- from=- to=- conversationId=- secretKey=-\n[\n  1,\n  \"two\"\n]\n" +
                kRule + "\n");
}

TEST_F(DebugLogManagerTest, NewestEntryIsOnTop) {
  manager.writeEntry({{"from", "first"}});
  manager.writeEntry({{"from", "second"}});
  manager.flush();
  const std::string text = todayText();
  EXPECT_LT(text.find("from=second"), text.find("from=first"));
  EXPECT_EQ(text, *content());
  EXPECT_EQ(size(), static_cast<std::int64_t>(text.size()));
}

TEST_F(DebugLogManagerTest, FilesAreNamedAfterTheLocalDay) {
  useTimeZone("UTC-2");  // two hours east of UTC
  queue.clock().advance(23.5 * 3600);
  manager.writeEntry({{"from", "late"}});
  manager.flush();
  const auto file = manager.folder() / "debug_log(20260102).txt";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(TempDir::readFile(file).substr(0, 25), "[2026-01-02 01:30:00.000]");
}

TEST_F(DebugLogManagerTest, WritingPrunesFilesOlderThanAWeek) {
  std::filesystem::create_directories(manager.folder());
  const std::vector<std::string> kept = {"debug_log(20251225).txt",  // seven days before today
                                         "debug_log(20251231).txt", "debug_log(2025122).txt",
                                         "debug_log(20251301).txt",  // no such day
                                         "debug_log(abcdefgh).txt", "notes(20240101).txt", "debug_log(20240101).log"};
  const std::vector<std::string> removed = {"debug_log(20251224).txt", "debug_log(20200101).txt"};
  for (const auto& name : kept) TempDir::writeFile(manager.folder() / name, "x");
  for (const auto& name : removed) TempDir::writeFile(manager.folder() / name, "x");

  manager.writeEntry({});
  manager.flush();
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(manager.folder() / name)) << name;
  for (const auto& name : removed) EXPECT_FALSE(std::filesystem::exists(manager.folder() / name)) << name;
}

TEST_F(DebugLogManagerTest, ClearingRemovesTodayOnlyAndIsSeenByLaterReads) {
  std::filesystem::create_directories(manager.folder());
  TempDir::writeFile(manager.folder() / "debug_log(20251231).txt", "yesterday");
  manager.writeEntry({{"from", "a"}});
  bool cleared = false;
  manager.clearLogs([&] { cleared = true; });
  manager.flush();
  queue.runUntilIdle();
  EXPECT_TRUE(cleared);
  EXPECT_EQ(size(), 0);
  EXPECT_EQ(content(), std::nullopt);
  EXPECT_TRUE(std::filesystem::exists(manager.folder() / "debug_log(20251231).txt"));

  bool clearedAgain = false;  // nothing to delete: the completion still runs
  manager.clearLogs([&] { clearedAgain = true; });
  manager.flush();
  queue.runUntilIdle();
  EXPECT_TRUE(clearedAgain);
}

TEST_F(DebugLogManagerTest, CompletionsRunOnTheMainQueue) {
  bool called = false;
  manager.getLogSize([&](std::int64_t) { called = queue.isCurrent(); });
  manager.flush();
  EXPECT_FALSE(called);
  queue.runUntilIdle();
  EXPECT_TRUE(called);
}

TEST_F(DebugLogManagerTest, ExistingBytesSurviveAWriteEvenWhenNotUtf8) {
  std::filesystem::create_directories(manager.folder());
  const std::string damaged = "older entry \xff\xfe damaged\n";
  TempDir::writeFile(manager.dayFile(queue.clock().now()), damaged);
  manager.writeEntry({{"from", "new"}});
  manager.flush();
  const std::string text = todayText();
  EXPECT_TRUE(text.ends_with(damaged));
  EXPECT_EQ(content(), std::nullopt) << "the day's text is not UTF-8";
}

}  // namespace
}  // namespace orvik
