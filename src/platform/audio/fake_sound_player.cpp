#include "platform/audio/fake_sound_player.h"

namespace orvik::platform {

FakeSound::~FakeSound() {
  state_->playing = false;
  state_->destroyed = true;
}

bool FakeSound::play() {
  if (state_->playing || player_.failing_.count(state_->name)) return false;
  state_->playing = true;
  ++state_->plays;
  return true;
}

bool FakeSound::stop() {
  const bool was = state_->playing;
  state_->playing = false;
  ++state_->stops;
  return was;
}

std::vector<std::shared_ptr<FakeSound::State>> FakeSoundPlayer::playing() const {
  std::vector<std::shared_ptr<FakeSound::State>> out;
  for (const auto& state : loaded_) {
    if (state->playing) out.push_back(state);
  }
  return out;
}

std::unique_ptr<Sound> FakeSoundPlayer::make(std::string name) {
  auto state = std::make_shared<FakeSound::State>();
  state->name = std::move(name);
  loaded_.push_back(state);
  return std::make_unique<FakeSound>(*this, state);
}

std::unique_ptr<Sound> FakeSoundPlayer::load(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return nullptr;
  return make(file.filename().string());
}

std::unique_ptr<Sound> FakeSoundPlayer::systemSound(const std::string& name) {
  if (!systemSounds_.count(name)) return nullptr;
  return make("system:" + name);
}

}  // namespace orvik::platform
