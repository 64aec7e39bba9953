#include "calls/media/call_audio_manager.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/native_logger.h"
#include "platform/app_info.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr const char* kIncomingKey = "incomingRingtone";
constexpr float kGainExponent = 1.66f;

std::unique_ptr<platform::Sound> loadFirst(platform::SoundPlayer& player, const std::filesystem::path& folder,
                                           std::string_view name, std::initializer_list<std::string_view> extensions) {
  for (std::string_view extension : extensions) {
    if (auto sound = player.load(folder / (std::string(name) + "." + std::string(extension)))) return sound;
  }
  return nullptr;
}

}  // namespace

CallAudioManager::CallAudioManager(platform::SoundPlayer& player, platform::UserDefaults& defaults,
                                   std::filesystem::path resources, RingtoneSource ringtones, LogFunction log)
    : player_(player), defaults_(defaults), resources_(std::move(resources)), ringtones_(std::move(ringtones)),
      log_(std::move(log)) {
  if (!log_) log_ = [](const std::string& line) { nativeLog(line); };
  if (!ringtones_.storedIncomingRingtone || !ringtones_.ringtoneSound) {
    ringtones_ = bundledRingtones(player_, defaults_, resources_, log_);
  }
  // Settings of older versions: the old per-tone volumes go, and of the
  // current ones only the incoming ringtone's volume is the user's.
  if (defaults_.hasStoredValue(oldVolumesKey)) {
    defaults_.remove(oldVolumesKey);
    log_("[CallAudio] old saved volumes cleared — back to defaults");
  }
  if (auto stored = defaults_.dictionary(volumesKey); stored && stored->is_object()) {
    const bool foreign = std::any_of(stored->items().begin(), stored->items().end(),
                                     [](const auto& item) { return item.key() != kIncomingKey; });
    if (foreign) {
      nlohmann::json pruned = nlohmann::json::object();
      if (stored->contains(kIncomingKey)) pruned[kIncomingKey] = (*stored)[kIncomingKey];
      defaults_.setDictionary(volumesKey, pruned);
    }
  }
}

CallAudioManager::~CallAudioManager() = default;

CallAudioManager::RingtoneSource CallAudioManager::bundledRingtones(platform::SoundPlayer& player,
                                                                    platform::UserDefaults& defaults,
                                                                    std::filesystem::path resources, LogFunction log) {
  RingtoneSource source;
  source.storedIncomingRingtone = [&defaults] { return orvik::storedIncomingRingtone(defaults); };
  source.ringtoneSound = [&player, folder = resources / "sounds", log](int index) {
    std::unique_ptr<platform::Sound> sound;
    for (int attempt : {index, 0}) {
      if (attempt < 0 || attempt >= static_cast<int>(ringtoneNames.size())) continue;
      const std::string file = ringtoneFileName(attempt);
      if ((sound = loadFirst(player, folder, file, {"mp3", "wav"}))) return sound;
      log("[CallAudio] ringtone file " + file + " missing");
      if (attempt == 0) break;  // the default ringtone is the last resort
    }
    return sound;
  };
  return source;
}

std::string_view CallAudioManager::toneName(Tone tone) {
  switch (tone) {
    case Tone::incomingRingtone: return "incomingRingtone";
    case Tone::ringback: return "ringback";
    case Tone::connecting: return "connecting";
    case Tone::callEnd: return "callEnd";
  }
  return "";
}

int CallAudioManager::defaultVolume(Tone tone) {
  switch (tone) {
    case Tone::incomingRingtone: return 70;
    case Tone::ringback: return 22;
    case Tone::connecting: return 10;
    case Tone::callEnd: return 30;
  }
  return 0;
}

void CallAudioManager::onMain(std::function<void()> body) {
  if (platform::mainQueue().isCurrent()) {
    body();
    return;
  }
  platform::mainQueue().post([weak = lifetime_.weak(this), body = std::move(body)] {
    if (weak.get()) body();
  });
}

std::optional<nlohmann::json> CallAudioManager::storedVolumes() const {
  auto stored = defaults_.dictionary(volumesKey);
  if (!stored || !stored->is_object()) return std::nullopt;
  for (const auto& item : stored->items()) {
    if (!item.value().is_number_integer()) return std::nullopt;
  }
  return stored;
}

float CallAudioManager::volumeGain(Tone tone) const {
  std::int64_t percent = defaultVolume(tone);
  if (tone == Tone::incomingRingtone) {
    if (auto stored = storedVolumes(); stored && stored->contains(kIncomingKey)) {
      const auto& value = (*stored)[kIncomingKey];
      percent = value.is_number_unsigned() ? static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), 100))
                                           : value.get<std::int64_t>();
    }
  }
  const float fraction = static_cast<float>(std::clamp<std::int64_t>(percent, 0, 100)) / 100.0f;
  return fraction == 0.0f ? 0.0f : std::pow(fraction, kGainExponent);
}

std::unique_ptr<platform::Sound> CallAudioManager::bundleSound(std::string_view name,
                                                               std::initializer_list<std::string_view> extensions) {
  return loadFirst(player_, resources_ / "sounds", name, extensions);
}

std::unique_ptr<platform::Sound> CallAudioManager::makeSound(Tone tone) {
  switch (tone) {
    case Tone::incomingRingtone: {
      auto sound = ringtones_.ringtoneSound(ringtones_.storedIncomingRingtone());
      return sound ? std::move(sound) : player_.systemSound("Funk");
    }
    case Tone::ringback: return bundleSound("call_ringback", {"mp3", "wav", "caf", "aiff"});
    case Tone::connecting: return bundleSound("call_connecting", {"wav", "caf", "aiff", "mp3"});
    case Tone::callEnd: {
      auto sound = bundleSound("call_end", {"wav", "caf", "aiff", "mp3"});
      return sound ? std::move(sound) : player_.systemSound("Pop");
    }
  }
  return nullptr;
}

void CallAudioManager::startTone(Tone tone) {
  onMain([this, tone] {
    if (currentTone_ == tone) return;
    if (loopSound_) loopSound_->stop();
    loopSound_.reset();
    stopPreview();
    auto sound = makeSound(tone);
    const bool missing = !sound;
    if (sound) sound->setLoops(true);
    const float gain = volumeGain(tone);
    if (sound && gain > 0) {
      sound->setVolume(gain);
      const bool played = sound->play();
      sound->setVolume(gain);
      if (played) loopSound_ = std::move(sound);
    }
    currentTone_ = tone;
    std::string line = "[CallAudio] start " + std::string(toneName(tone));
    if (gain == 0) {
      line += " (muted — volume 0)";
    } else if (missing) {
      line += " (file missing — silent)";
    }
    log_(line);
  });
}

void CallAudioManager::stopTone() {
  onMain([this] {
    if (!currentTone_ && !loopSound_) return;
    log_("[CallAudio] stop " + (currentTone_ ? std::string(toneName(*currentTone_)) : std::string("-")));
    if (loopSound_) loopSound_->stop();
    loopSound_.reset();
    currentTone_.reset();
  });
}

void CallAudioManager::playEndTone() {
  onMain([this] {
    if (loopSound_) loopSound_->stop();
    loopSound_.reset();
    currentTone_.reset();
    if (endSound_) endSound_->stop();
    stopPreview();
    ++endToneToken_;
    const float gain = volumeGain(Tone::callEnd);
    if (gain == 0) {
      endSound_.reset();
      log_("[CallAudio] end tone muted (volume 0)");
      return;
    }
    endSound_ = makeSound(Tone::callEnd);
    bool played = false;
    if (endSound_) {
      endSound_->setVolume(gain);
      played = endSound_->play();
      endSound_->setVolume(gain);
    }
    if (!played) player_.beep();
    log_("[CallAudio] end tone");
  });
}

void CallAudioManager::setToneVolumes(const nlohmann::json& volumes) {
  onMain([this, volumes] {
    nlohmann::json stored = storedVolumes().value_or(nlohmann::json::object());
    if (volumes.is_object() && volumes.contains(kIncomingKey) && volumes[kIncomingKey].is_number()) {
      // Clamped before the conversion: a page may send any number.
      const double value = std::trunc(volumes[kIncomingKey].get<double>());
      stored[kIncomingKey] = static_cast<std::int64_t>(std::clamp(value, 0.0, 100.0));
    }
    defaults_.setDictionary(volumesKey, stored);
    log_("[CallAudio] volumes → " + stored.dump());
    if (currentTone_) applyLoopVolume();
    if (previewToneKey_ && previewSound_) {
      const float gain = volumeGain(*previewToneKey_);
      if (gain == 0) {
        stopPreview();
      } else {
        previewSound_->setVolume(gain);
      }
    }
  });
}

void CallAudioManager::applyLoopVolume() {
  const Tone tone = *currentTone_;
  const float gain = volumeGain(tone);
  if (gain == 0) {
    // Silent, but the tone stays current: a later raise brings it back.
    if (loopSound_) loopSound_->stop();
    loopSound_.reset();
    return;
  }
  if (loopSound_) {
    if (loopSound_->isPlaying()) loopSound_->setVolume(gain);
    return;
  }
  if (auto sound = makeSound(tone)) {
    sound->setLoops(true);
    sound->setVolume(gain);
    const bool played = sound->play();
    sound->setVolume(gain);
    if (played) loopSound_ = std::move(sound);
  }
}

void CallAudioManager::previewRingtone(int ringtone) {
  onMain([this, ringtone] {
    if (ringtone < 0 || ringtone >= static_cast<int>(ringtoneNames.size())) return;
    if (currentTone_) {
      log_("[CallAudio] ringtone preview " + std::string(ringtoneNames[static_cast<std::size_t>(ringtone)]) +
           " skipped — call tone playing");
      return;
    }
    if (previewSound_) previewSound_->stop();
    previewSound_.reset();
    auto sound = ringtones_.ringtoneSound(ringtone);
    if (sound) sound->setLoops(false);
    const float gain = volumeGain(Tone::incomingRingtone);
    if (sound && gain > 0) {
      sound->setVolume(gain);
      const bool played = sound->play();
      sound->setVolume(gain);
      if (played) previewSound_ = std::move(sound);
    }
    previewToneKey_ = Tone::incomingRingtone;
  });
}

void CallAudioManager::stopRingtonePreview() {
  onMain([this] { stopPreview(); });
}

void CallAudioManager::stopPreview() {
  if (previewSound_) previewSound_->stop();
  previewSound_.reset();
  previewToneKey_.reset();
}

}  // namespace orvik
