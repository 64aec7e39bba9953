#include "platform/audio/gst_sound_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/pulse_daemon.h"
#include "platform/test_support/wait_for.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

// The program's own sounds, played on a private PulseAudio daemon's null sink.
class GstSoundPlayerIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon.isRunning()) << "pulseaudio did not start";
    setenv("PULSE_SERVER", daemon.server().c_str(), 1);
    player = std::make_unique<GstSoundPlayer>(std::filesystem::path(ORVIK_SOURCE_DIR) / "resources", "pulsesink");
  }
  void TearDown() override {
    player.reset();
    unsetenv("PULSE_SERVER");
  }

  std::filesystem::path sound(const std::string& name) const {
    return std::filesystem::path(ORVIK_SOURCE_DIR) / "resources" / "sounds" / name;
  }

  // Waits for what the pipeline does, running the main queue meanwhile.
  bool waitFor(const std::function<bool()>& done, double seconds = 10.0) {
    return testing::waitFor(done, [this] { queue.runUntilIdle(); }, seconds);
  }

  VirtualQueue queue;
  ScopedMainQueue mainQueue{queue};
  testing::PulseDaemon daemon{{"nullA"}};
  std::unique_ptr<GstSoundPlayer> player;
};

TEST_F(GstSoundPlayerIntegration, LoadsOnlyFilesThatAreSounds) {
  testing::TempDir dir;
  testing::TempDir::writeFile(dir / "notes.wav", "not a sound at all");
  EXPECT_EQ(player->load(dir / "missing.wav"), nullptr);
  EXPECT_EQ(player->load(dir / "notes.wav"), nullptr);
  EXPECT_NE(player->load(sound("call_end.wav")), nullptr);
  EXPECT_NE(player->systemSound("Pop"), nullptr);
  EXPECT_NE(player->systemSound("Funk"), nullptr);
  EXPECT_EQ(player->systemSound("NoSuchSound"), nullptr);
}

TEST_F(GstSoundPlayerIntegration, ASoundPlaysToItsEndAndCanPlayAgain) {
  auto end = player->load(sound("call_end.wav"));
  ASSERT_NE(end, nullptr);
  end->setVolume(0.25f);
  EXPECT_FLOAT_EQ(end->volume(), 0.25f);
  EXPECT_TRUE(end->play());
  EXPECT_FALSE(end->play());  // already playing
  EXPECT_TRUE(waitFor([&] { return daemon.sinksWithStreams() == std::vector<std::string>{"nullA"}; }));
  EXPECT_TRUE(waitFor([&] { return !end->isPlaying(); }));
  EXPECT_TRUE(end->play());
  EXPECT_TRUE(end->stop());
  EXPECT_FALSE(end->isPlaying());
}

TEST_F(GstSoundPlayerIntegration, ALoopingSoundKeepsPlayingUntilStopped) {
  auto pop = player->systemSound("Pop");  // 60 ms long
  ASSERT_NE(pop, nullptr);
  pop->setLoops(true);
  ASSERT_TRUE(pop->play());
  // Well past several ends of the file it still plays.
  EXPECT_FALSE(waitFor([&] { return !pop->isPlaying(); }, 1.0));
  EXPECT_TRUE(pop->stop());
  EXPECT_FALSE(pop->isPlaying());
}

}  // namespace
}  // namespace orvik::platform
