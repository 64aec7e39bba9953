#include "calls/control/call_strings.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orvik {
namespace {

class CallStringsTest : public ::testing::Test {
 protected:
  std::vector<std::string> lines;
  CallStrings strings{[this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(CallStringsTest, AValidTableReplacesTheWholeTableAndLookupsFallBackToTheCallersDefault) {
  strings.setCallStrings(R"(setCallStrings:{"calling":"Llamando...","lang":"es","connecting":"Conectando..."})");
  EXPECT_EQ(lines.back(), "[CallStrings] updated — 3 strings, lang=es");
  EXPECT_EQ(strings.string(CallStrings::kCalling, CallStrings::kCallingDefault), "Llamando...");
  // A second table without "connecting" removes it.
  strings.setCallStrings(R"(setCallStrings:{"calling":"Appel...","lang":"fr"})");
  EXPECT_EQ(strings.string(CallStrings::kConnecting, CallStrings::kConnectingDefault), "Connecting...");
  EXPECT_EQ(strings.string(CallStrings::kCalling, CallStrings::kCallingDefault), "Appel...");
}

TEST_F(CallStringsTest, ValuesAreKeptUntrimmedBlankOnesAndNonStringsAreDropped) {
  strings.setCallStrings("setCallStrings:{\"a\":\"  padded \",\"b\":\" \\t \",\"c\":\"\",\"d\":3,\"e\":true,"
                         "\"f\":null,\"g\":[\"x\"],\"h\":{\"x\":1},\"i\":\"\\n\"}");
  EXPECT_EQ(strings.count(), 2u);
  EXPECT_EQ(strings.string("a", "-"), "  padded ");
  EXPECT_EQ(strings.string("i", "-"), "\n");  // a line break is text
  for (const char* dropped : {"b", "c", "d", "e", "f", "g", "h"}) EXPECT_EQ(strings.string(dropped, "-"), "-");
  EXPECT_EQ(lines.back(), "[CallStrings] updated — 2 strings, lang=?");
}

TEST_F(CallStringsTest, OnlyTheLeadingPrefixIsTheMessageNameTheSameTextInAValueStays) {
  strings.setCallStrings(R"(setCallStrings:{"calling":"setCallStrings: is a name","lang":"en"})");
  EXPECT_EQ(strings.string("calling", "-"), "setCallStrings: is a name");
}

TEST_F(CallStringsTest, BadPayloadsKeepTheCurrentTable) {
  strings.setCallStrings(R"(setCallStrings:{"calling":"Llamando..."})");
  for (const char* bad : {"setCallStrings:", "setCallStrings:[\"calling\"]", "setCallStrings:{\"calling\":",
                          "setCallStrings:\"text\"", "setCallStrings:not json", "setCallStrings:{} trailing"}) {
    SCOPED_TRACE(bad);
    lines.clear();
    strings.setCallStrings(bad);
    EXPECT_EQ(lines, std::vector<std::string>{"[CallStrings] invalid payload — keeping current strings"});
    EXPECT_EQ(strings.string("calling", "-"), "Llamando...");
  }
  strings.setCallStrings("setCallStrings:{}");
  EXPECT_EQ(lines.back(), "[CallStrings] updated — 0 strings, lang=?");
  EXPECT_EQ(strings.string("calling", "Calling..."), "Calling...");
}

TEST_F(CallStringsTest, LookupsFromOtherThreadsSeeWholeTables) {
  std::thread reader([this] {
    for (int i = 0; i < 2000; ++i) {
      const auto text = strings.string("calling", "default");
      EXPECT_TRUE(text == "default" || text == "one" || text == "two") << text;
    }
  });
  for (int i = 0; i < 500; ++i) {
    strings.setCallStrings(i % 2 ? R"(setCallStrings:{"calling":"one"})" : R"(setCallStrings:{"calling":"two"})");
  }
  reader.join();
}

}  // namespace
}  // namespace orvik
