#include "calls/media/call_audio_manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/fake_sound_player.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using Tone = CallAudioManager::Tone;
using platform::FakeSound;

class CallAudioManagerTest : public ::testing::Test {
 protected:
  CallAudioManagerTest() : defaults(dir / "defaults.json") {
    std::filesystem::create_directories(dir / "sounds");
    player.setSystemSounds({"Funk", "Pop"});
  }

  void addSounds(std::initializer_list<const char*> files) {
    for (const char* file : files) testing::TempDir::writeFile(dir / "sounds" / file, "RIFF");
  }

  CallAudioManager& manager() {
    if (!manager_) {
      manager_ = std::make_unique<CallAudioManager>(player, defaults, dir.path(), CallAudioManager::RingtoneSource{},
                                                    [this](const std::string& line) { lines.push_back(line); });
    }
    return *manager_;
  }

  std::shared_ptr<FakeSound::State> playing(const std::string& name) const {
    for (const auto& state : player.playing()) {
      if (state->name == name) return state;
    }
    return nullptr;
  }

  static float gainOf(int percent) { return percent == 0 ? 0.0f : std::pow(percent / 100.0f, 1.66f); }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue mainQueue{queue};
  testing::TempDir dir;
  platform::UserDefaults defaults;
  platform::FakeSoundPlayer player;
  std::vector<std::string> lines;
  std::unique_ptr<CallAudioManager> manager_;
};

TEST_F(CallAudioManagerTest, GainFollowsTheStoredIncomingVolumeOnly) {
  EXPECT_NEAR(manager().volumeGain(Tone::incomingRingtone), 0.553f, 0.001f);
  EXPECT_NEAR(manager().volumeGain(Tone::ringback), 0.081f, 0.001f);
  EXPECT_NEAR(manager().volumeGain(Tone::connecting), 0.022f, 0.001f);
  EXPECT_NEAR(manager().volumeGain(Tone::callEnd), 0.136f, 0.001f);

  struct Case {
    nlohmann::json stored;
    float incoming;
  };
  const std::vector<Case> cases = {
      {{{"incomingRingtone", 0}}, 0.0f},
      {{{"incomingRingtone", 100}}, 1.0f},
      {{{"incomingRingtone", 150}}, 1.0f},
      {{{"incomingRingtone", -5}}, 0.0f},
      {{{"incomingRingtone", 55}}, gainOf(55)},
      {{{"incomingRingtone", 18446744073709551615ull}}, 1.0f},
      {{{"incomingRingtone", 55.5}}, gainOf(70)},                    // not an integer: defaults apply
      {{{"incomingRingtone", 55}, {"ringback", "loud"}}, gainOf(70)},  // one bad value spoils it all
      {{{"ringback", 90}}, gainOf(70)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.dump());
    defaults.setDictionary(CallAudioManager::volumesKey, c.stored);
    EXPECT_FLOAT_EQ(manager().volumeGain(Tone::incomingRingtone), c.incoming);
    EXPECT_NEAR(manager().volumeGain(Tone::ringback), 0.081f, 0.001f);
  }
}

TEST_F(CallAudioManagerTest, ALoopingToneStartsOnceAndStopsOnce) {
  addSounds({"call_ringback.wav"});
  manager().startTone(Tone::ringback);
  manager().startTone(Tone::ringback);  // not restarted
  ASSERT_EQ(player.loaded().size(), 1u);
  const auto ringback = player.loaded().front();
  EXPECT_TRUE(ringback->playing);
  EXPECT_TRUE(ringback->loops);
  EXPECT_EQ(ringback->plays, 1);
  EXPECT_NEAR(ringback->volume, 0.081f, 0.001f);
  EXPECT_EQ(manager().currentTone(), Tone::ringback);

  // Another tone replaces it directly.
  addSounds({"call_connecting.wav"});
  manager().startTone(Tone::connecting);
  EXPECT_FALSE(ringback->playing);
  EXPECT_NE(playing("call_connecting.wav"), nullptr);

  manager().stopTone();
  manager().stopTone();  // nothing current: no line
  EXPECT_TRUE(player.playing().empty());
  EXPECT_EQ(manager().currentTone(), std::nullopt);
  EXPECT_EQ(lines, (std::vector<std::string>{"[CallAudio] start ringback", "[CallAudio] start connecting",
                                             "[CallAudio] stop connecting"}));
}

TEST_F(CallAudioManagerTest, ToneSoundsAreFoundByTheirExtensionOrder) {
  // Ringback prefers mp3, connecting prefers wav.
  addSounds({"call_ringback.wav", "call_ringback.mp3", "call_connecting.mp3", "call_connecting.wav"});
  manager().startTone(Tone::ringback);
  EXPECT_NE(playing("call_ringback.mp3"), nullptr);
  manager().startTone(Tone::connecting);
  EXPECT_NE(playing("call_connecting.wav"), nullptr);
}

TEST_F(CallAudioManagerTest, AMissingOrMutedToneIsSilentButCurrent) {
  manager().startTone(Tone::connecting);
  EXPECT_EQ(manager().currentTone(), Tone::connecting);
  EXPECT_FALSE(manager().hasLoopSound());
  EXPECT_EQ(lines.back(), "[CallAudio] start connecting (file missing — silent)");

  addSounds({"ringtone_default.wav"});
  defaults.setDictionary(CallAudioManager::volumesKey, {{"incomingRingtone", 0}});
  manager().startTone(Tone::incomingRingtone);
  EXPECT_EQ(manager().currentTone(), Tone::incomingRingtone);
  EXPECT_TRUE(player.playing().empty());
  EXPECT_EQ(lines.back(), "[CallAudio] start incomingRingtone (muted — volume 0)");

  // Raising the volume while it still rings starts the ringtone.
  manager().setToneVolumes({{"incomingRingtone", 55}});
  auto ringtone = playing("ringtone_default.wav");
  ASSERT_NE(ringtone, nullptr);
  EXPECT_TRUE(ringtone->loops);
  EXPECT_FLOAT_EQ(ringtone->volume, gainOf(55));

  // Down to 0 silences it, the tone stays current; a later raise restarts it.
  manager().setToneVolumes({{"incomingRingtone", 0}});
  EXPECT_TRUE(player.playing().empty());
  EXPECT_EQ(manager().currentTone(), Tone::incomingRingtone);
  manager().setToneVolumes({{"incomingRingtone", 20}});
  ringtone = playing("ringtone_default.wav");
  ASSERT_NE(ringtone, nullptr);
  manager().setToneVolumes({{"incomingRingtone", 80}});
  EXPECT_FLOAT_EQ(ringtone->volume, gainOf(80));
}

TEST_F(CallAudioManagerTest, TheIncomingRingtoneFallsBackStepByStep) {
  struct Case {
    const char* name;
    std::vector<const char*> files;
    std::set<std::string> systemSounds;
    std::string expectedSound;  // empty: silent
    std::vector<std::string> expectedLines;
  };
  const std::vector<Case> cases = {
      {"chosen wav", {"ringtone_calm.wav", "ringtone_default.wav"}, {"Funk"}, "ringtone_calm.wav",
       {"[CallAudio] start incomingRingtone"}},
      {"chosen mp3 first", {"ringtone_calm.mp3", "ringtone_calm.wav"}, {"Funk"}, "ringtone_calm.mp3",
       {"[CallAudio] start incomingRingtone"}},
      {"chosen missing", {"ringtone_default.wav"}, {"Funk"}, "ringtone_default.wav",
       {"[CallAudio] ringtone file ringtone_calm missing", "[CallAudio] start incomingRingtone"}},
      {"default missing too", {}, {"Funk"}, "system:Funk",
       {"[CallAudio] ringtone file ringtone_calm missing", "[CallAudio] ringtone file ringtone_default missing",
        "[CallAudio] start incomingRingtone"}},
      {"nothing at all", {}, {}, "",
       {"[CallAudio] ringtone file ringtone_calm missing", "[CallAudio] ringtone file ringtone_default missing",
        "[CallAudio] start incomingRingtone (file missing — silent)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir folder;
    std::filesystem::create_directories(folder / "sounds");
    for (const char* file : c.files) testing::TempDir::writeFile(folder / "sounds" / file, "RIFF");
    platform::UserDefaults store(folder / "defaults.json");
    store.setString(CallAudioManager::incomingRingtoneKey, "calm");
    platform::FakeSoundPlayer sounds;
    sounds.setSystemSounds(c.systemSounds);
    std::vector<std::string> logged;
    CallAudioManager audio(sounds, store, folder.path(), {}, [&](const std::string& line) { logged.push_back(line); });
    audio.startTone(Tone::incomingRingtone);
    const auto now = sounds.playing();
    if (c.expectedSound.empty()) {
      EXPECT_TRUE(now.empty());
    } else {
      ASSERT_EQ(now.size(), 1u);
      EXPECT_EQ(now.front()->name, c.expectedSound);
    }
    EXPECT_EQ(logged, c.expectedLines);
  }
}

TEST_F(CallAudioManagerTest, AnUnknownStoredRingtoneMeansTheDefault) {
  addSounds({"ringtone_default.wav", "ringtone_bell.wav"});
  defaults.setString(CallAudioManager::incomingRingtoneKey, "Bell");
  manager().startTone(Tone::incomingRingtone);
  EXPECT_NE(playing("ringtone_default.wav"), nullptr);
}

TEST_F(CallAudioManagerTest, TheEndToneEndsTheLoopAndFallsBackToPopThenBeep) {
  addSounds({"call_ringback.wav", "call_end.wav"});
  manager().startTone(Tone::ringback);
  manager().playEndTone();
  EXPECT_EQ(manager().currentTone(), std::nullopt);
  EXPECT_EQ(playing("call_ringback.wav"), nullptr);
  auto end = playing("call_end.wav");
  ASSERT_NE(end, nullptr);
  EXPECT_FALSE(end->loops);
  EXPECT_NEAR(end->volume, 0.136f, 0.001f);
  EXPECT_EQ(manager().endToneToken(), 1);
  EXPECT_EQ(lines, (std::vector<std::string>{"[CallAudio] start ringback", "[CallAudio] end tone"}));

  // A second end tone stops the first one.
  manager().playEndTone();
  EXPECT_FALSE(end->playing);
  EXPECT_EQ(player.playing().size(), 1u);
  EXPECT_EQ(manager().endToneToken(), 2);

  std::filesystem::remove(dir / "sounds" / "call_end.wav");
  manager().playEndTone();
  EXPECT_NE(playing("system:Pop"), nullptr);
  EXPECT_EQ(player.beeps(), 0);

  player.setSystemSounds({});
  manager().playEndTone();
  EXPECT_EQ(player.beeps(), 1);

  addSounds({"call_end.wav"});
  player.failPlayOf("call_end.wav");
  manager().playEndTone();
  EXPECT_EQ(player.beeps(), 2);
  EXPECT_EQ(lines.back(), "[CallAudio] end tone");
}

TEST_F(CallAudioManagerTest, VolumesFromThePageAreCutClampedAndStored) {
  struct Case {
    nlohmann::json given;
    nlohmann::json stored;
  };
  const std::vector<Case> cases = {
      {{{"incomingRingtone", 150}}, {{"incomingRingtone", 100}}},
      {{{"incomingRingtone", -5}}, {{"incomingRingtone", 0}}},
      {{{"incomingRingtone", 55.7}}, {{"incomingRingtone", 55}}},
      {{{"incomingRingtone", 1e300}}, {{"incomingRingtone", 100}}},
      {{{"incomingRingtone", "55"}}, {{"incomingRingtone", 100}}},  // not a number: left as it was
      {{{"ringback", 10}, {"callEnd", 0}}, {{"incomingRingtone", 100}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given.dump());
    manager().setToneVolumes(c.given);
    EXPECT_EQ(defaults.dictionary(CallAudioManager::volumesKey), c.stored);
    EXPECT_EQ(lines.back(), "[CallAudio] volumes → " + c.stored.dump());
  }
  // A stored dictionary with a foreign value starts over from nothing.
  defaults.setDictionary(CallAudioManager::volumesKey, {{"incomingRingtone", "x"}});
  manager().setToneVolumes({{"ringback", 10}});
  EXPECT_EQ(defaults.dictionary(CallAudioManager::volumesKey), nlohmann::json::object());
}

TEST_F(CallAudioManagerTest, PreviewPlaysOnceAndGivesWayToCallTones) {
  addSounds({"ringtone_bell.wav", "ringtone_default.wav", "call_ringback.wav"});
  manager().previewRingtone(5);
  auto bell = playing("ringtone_bell.wav");
  ASSERT_NE(bell, nullptr);
  EXPECT_FALSE(bell->loops);
  EXPECT_NEAR(bell->volume, 0.553f, 0.001f);
  EXPECT_TRUE(manager().hasPreviewSound());

  manager().setToneVolumes({{"incomingRingtone", 30}});
  EXPECT_FLOAT_EQ(bell->volume, gainOf(30));
  manager().setToneVolumes({{"incomingRingtone", 0}});
  EXPECT_FALSE(bell->playing);
  EXPECT_FALSE(manager().hasPreviewSound());
  manager().setToneVolumes({{"incomingRingtone", 30}});

  manager().previewRingtone(5);
  manager().startTone(Tone::ringback);  // a call tone stops the preview
  EXPECT_EQ(playing("ringtone_bell.wav"), nullptr);
  manager().previewRingtone(0);  // and refuses a new one
  EXPECT_EQ(lines.back(), "[CallAudio] ringtone preview default skipped — call tone playing");
  EXPECT_EQ(playing("ringtone_default.wav"), nullptr);

  manager().stopTone();
  manager().previewRingtone(0);
  EXPECT_NE(playing("ringtone_default.wav"), nullptr);
  manager().stopRingtonePreview();
  EXPECT_TRUE(player.playing().empty());
  manager().stopRingtonePreview();  // nothing playing: nothing happens
}

TEST_F(CallAudioManagerTest, CreationPrunesOldAndForeignVolumeSettings) {
  struct Case {
    nlohmann::json stored;
    nlohmann::json expected;
  };
  const std::vector<Case> cases = {
      {{{"incomingRingtone", 40}, {"ringback", 10}}, {{"incomingRingtone", 40}}},
      {{{"ringback", 10}}, nlohmann::json::object()},
      {{{"incomingRingtone", 40}}, {{"incomingRingtone", 40}}},
      {{{"incomingRingtone", "x"}, {"connecting", 1}}, {{"incomingRingtone", "x"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.dump());
    platform::UserDefaults store(dir / "prune.json");
    store.setDictionary(CallAudioManager::volumesKey, c.stored);
    store.setDictionary(CallAudioManager::oldVolumesKey, {{"ringback", 50}});
    std::vector<std::string> logged;
    CallAudioManager audio(player, store, dir.path(), {}, [&](const std::string& line) { logged.push_back(line); });
    EXPECT_EQ(store.dictionary(CallAudioManager::volumesKey), c.expected);
    EXPECT_FALSE(store.hasStoredValue(CallAudioManager::oldVolumesKey));
    EXPECT_EQ(logged, (std::vector<std::string>{"[CallAudio] old saved volumes cleared — back to defaults"}));
  }
}

TEST_F(CallAudioManagerTest, CallsFromOtherThreadsRunOnTheMainQueue) {
  addSounds({"call_ringback.wav"});
  manager();
  std::thread([this] { manager_->startTone(Tone::ringback); }).join();
  EXPECT_EQ(manager().currentTone(), std::nullopt);
  queue.runUntilIdle();
  EXPECT_EQ(manager().currentTone(), Tone::ringback);
}

}  // namespace
}  // namespace orvik
