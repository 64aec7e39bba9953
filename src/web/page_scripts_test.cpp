#include "web/page_scripts.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

namespace scripts = page_scripts;

TEST(PageScripts, TwelveScriptsWithAStoredRingtoneElevenWithoutInTheSameOrder) {
  scripts::Inputs inputs{"2.1.0 (210)", "abc", std::nullopt, false, "L"};
  const auto without = scripts::mainViewScripts(inputs);
  inputs.storedRingtone = "bell";
  const auto with = scripts::mainViewScripts(inputs);
  ASSERT_EQ(without.size(), 11u);
  ASSERT_EQ(with.size(), 12u);
  EXPECT_NE(with[5].source.find(R"(localStorage.setItem('orvik_incomingRingtone',"bell"))"), std::string::npos);
  EXPECT_TRUE(with[5].topFrameOnly);
  for (std::size_t i = 0, j = 0; i < with.size(); ++i) {
    if (i == 5) continue;
    EXPECT_EQ(with[i].source, without[j].source) << i;
    EXPECT_EQ(with[i].topFrameOnly, without[j].topFrameOnly) << i;
    ++j;
  }
  // Frames: scripts 1 to 5 and 11 in every frame, the others in the top frame only.
  const std::vector<bool> topOnly = {false, false, false, false, false, true, true, true, true, true, false, true};
  for (std::size_t i = 0; i < with.size(); ++i) EXPECT_EQ(with[i].topFrameOnly, topOnly[i]) << i;
  EXPECT_NE(with[3].source.find(R"js(window.APP_VERSION = "2.1.0 (210)";)js"), std::string::npos);
  EXPECT_NE(with[3].source.find(R"(window.ORVIK_DISTRIBUTION = "bucket";)"), std::string::npos);
  EXPECT_EQ(with[4].source, R"(window.__orvikDeviceUdid = "abc";)");
  EXPECT_EQ(with[7].source, "window.__orvikNativeVP9 = false;");
  EXPECT_EQ(with[9].source, R"(window.__orvikNativeLaunchId = "L";)");
}

TEST(PageScripts, PageTextIsEncodedNeverPasted) {
  scripts::Inputs inputs{"1.0 (1)", R"(x"; alert(1); ")", R"(a")}; alert(1); //)", false, "L"};
  const auto all = scripts::mainViewScripts(inputs);
  for (const auto& script : all) {
    EXPECT_EQ(script.source.find(R"(x"; alert)"), std::string::npos) << script.source;
    EXPECT_EQ(script.source.find(R"(a")}; alert)"), std::string::npos) << script.source;
  }
  EXPECT_NE(all[4].source.find(R"(x\"; alert(1); \")"), std::string::npos) << all[4].source;
}

TEST(PageScripts, VersionAndUdidLogLine) {
  EXPECT_EQ(scripts::appVersion("", ""), "1.0 (1)");
  EXPECT_EQ(scripts::appVersion("3.2", "77"), "3.2 (77)");
  EXPECT_EQ(scripts::udidInjectedLogLine(""), "[udid] injected window.__orvikDeviceUdid at documentStart (EMPTY)");
  EXPECT_EQ(scripts::udidInjectedLogLine("abcdefgh1234567890XY"),
            "[udid] injected window.__orvikDeviceUdid at documentStart (…1234567890XY)");
  EXPECT_EQ(scripts::udidInjectedLogLine("short"), "[udid] injected window.__orvikDeviceUdid at documentStart (…short)");
}

TEST(PageScripts, BridgeForwarderRunsInItsOwnWorldInTheTopFrame) {
  const auto bridge = scripts::bridgeScripts();
  ASSERT_EQ(bridge.size(), 2u);
  EXPECT_TRUE(bridge[0].world.empty());
  EXPECT_EQ(bridge[1].world, scripts::kBridgeWorld);
  EXPECT_TRUE(bridge[0].topFrameOnly && bridge[1].topFrameOnly);
}

TEST(PageScripts, TheBridgeCarriesTheCallPagesHandlersAndCallWindowsSayWhichUdidTheyGot) {
  for (const auto& script : scripts::bridgeScripts()) {
    EXPECT_NE(script.source.find(R"(["nativeApp","logger","callWindowLogger","callWindowReady"])"), std::string::npos);
  }
  EXPECT_FALSE(scripts::callWindowConsoleScript().topFrameOnly);
  EXPECT_EQ(scripts::callWindowUdidLogLine(""), "[udid] injected window.__orvikDeviceUdid into CALL-WINDOW realm (EMPTY)");
  EXPECT_EQ(scripts::callWindowUdidLogLine("abcdef1234567890XY"),
            "[udid] injected window.__orvikDeviceUdid into CALL-WINDOW realm (…1234567890XY)");
}

}  // namespace
}  // namespace orvik
