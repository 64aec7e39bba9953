#include "core/incoming_ringtone.h"

#include <gtest/gtest.h>

#include "core/native_logger.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

class IncomingRingtoneTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
};

TEST_F(IncomingRingtoneTest, NamesMapToTheirIndexExactly) {
  for (std::size_t i = 0; i < kIncomingRingtoneNames.size(); ++i) {
    EXPECT_EQ(incomingRingtoneIndex(kIncomingRingtoneNames[i]), static_cast<int>(i));
    EXPECT_EQ(ringtoneFileName(static_cast<int>(i)), "ringtone_" + std::string(kIncomingRingtoneNames[i]));
  }
  for (const char* unknown : {"Bell", "bell ", "", "ringtone_bell", "none"}) {
    EXPECT_EQ(incomingRingtoneIndex(unknown), kUnknownIncomingRingtone) << unknown;
  }
}

TEST_F(IncomingRingtoneTest, MissingOrUnknownStoredNamesReadAsDefault) {
  EXPECT_EQ(storedIncomingRingtone(defaults_), 0);
  EXPECT_EQ(storedIncomingRingtoneName(defaults_), std::nullopt);
  defaults_.setString(kIncomingRingtoneKey, "Bell");
  EXPECT_EQ(storedIncomingRingtone(defaults_), 0);
  EXPECT_EQ(storedIncomingRingtoneName(defaults_), std::nullopt);
  defaults_.setString(kIncomingRingtoneKey, "metro");
  EXPECT_EQ(storedIncomingRingtone(defaults_), 6);
  EXPECT_EQ(storedIncomingRingtoneName(defaults_), "metro");
}

TEST_F(IncomingRingtoneTest, SettingStoresTheExactNameAndRefusesUnknownIndexes) {
  setIncomingRingtone(defaults_, incomingRingtoneIndex("caribbean"));
  setIncomingRingtone(defaults_, kUnknownIncomingRingtone);
  setIncomingRingtone(defaults_, -1);
  EXPECT_EQ(defaults_.string(kIncomingRingtoneKey), "caribbean");
  // Its "[CallAudio] …" line is call-engine chatter, muted by the log path.
  EXPECT_TRUE(isMutedCallLogLine("[CallAudio] incoming ringtone → caribbean"));
}

}  // namespace
}  // namespace orvik
