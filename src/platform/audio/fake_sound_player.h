// A SoundPlayer for tests: "loads" the files that exist (or that the test
// names), records what each sound was told and can refuse to play.
// THREAD-SAFETY: the test's thread.
#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/audio/sound_player.h"

namespace orvik::platform {

class FakeSoundPlayer;

class FakeSound final : public Sound {
 public:
  struct State {
    std::string name;  // file name or "system:<name>"
    bool playing = false;
    bool loops = false;
    float volume = 1.0f;
    int plays = 0;
    int stops = 0;
    bool destroyed = false;
  };

  FakeSound(FakeSoundPlayer& player, std::shared_ptr<State> state) : player_(player), state_(std::move(state)) {}
  ~FakeSound() override;

  bool play() override;
  bool stop() override;
  bool isPlaying() const override { return state_->playing; }
  void setLoops(bool loops) override { state_->loops = loops; }
  bool loops() const override { return state_->loops; }
  void setVolume(float volume) override { state_->volume = volume; }
  float volume() const override { return state_->volume; }

 private:
  FakeSoundPlayer& player_;
  std::shared_ptr<State> state_;
};

class FakeSoundPlayer final : public SoundPlayer {
 public:
  // Every sound ever loaded, oldest first; states outlive their sounds.
  const std::vector<std::shared_ptr<FakeSound::State>>& loaded() const { return loaded_; }
  // The sounds playing now.
  std::vector<std::shared_ptr<FakeSound::State>> playing() const;
  int beeps() const { return beeps_; }

  // System sounds that exist (by name).
  void setSystemSounds(std::set<std::string> names) { systemSounds_ = std::move(names); }
  // Files whose play() fails.
  void failPlayOf(std::string fileName) { failing_.insert(std::move(fileName)); }

  std::unique_ptr<Sound> load(const std::filesystem::path& file) override;
  std::unique_ptr<Sound> systemSound(const std::string& name) override;
  void beep() override { ++beeps_; }

 private:
  friend class FakeSound;
  std::unique_ptr<Sound> make(std::string name);

  std::vector<std::shared_ptr<FakeSound::State>> loaded_;
  std::set<std::string> systemSounds_;
  std::set<std::string> failing_;
  int beeps_ = 0;
};

}  // namespace orvik::platform
