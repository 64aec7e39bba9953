// The sounds around a call: the incoming ringtone while a call rings here,
// the ringback while the other side rings, a connecting tone while the media
// connects, and a short end tone. Also the user's ringtone volume and the
// ringtone preview of the settings page.
//
// Owner: the composition root, built on first use; the call manager and the script bridge
// call it.
// THREAD-SAFETY: state lives on the main queue. The entry points may be
// called from any thread: off the main queue they post their body there and
// return. volumeGain may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/incoming_ringtone.h"
#include "platform/audio/sound_player.h"
#include "platform/lifetime_token.h"
#include "platform/user_defaults.h"

namespace orvik {

class CallAudioManager {
 public:
  enum class Tone { incomingRingtone, ringback, connecting, callEnd };

  static constexpr const char* volumesKey = "orvik.ringtoneVolumes.v2";
  static constexpr const char* oldVolumesKey = "orvik.desktopRingtoneVolumes";
  static constexpr const char* incomingRingtoneKey = kIncomingRingtoneKey;
  // The nine incoming ringtones, by index.
  static constexpr const auto& ringtoneNames = kIncomingRingtoneNames;

  using LogFunction = std::function<void(const std::string& line)>;

  // Where the incoming ringtones come from: the stored choice and a loader.
  struct RingtoneSource {
    std::function<int()> storedIncomingRingtone;
    std::function<std::unique_ptr<platform::Sound>(int index)> ringtoneSound;
  };

  // `resources` is the folder that holds "sounds/"; `ringtones` defaults to
  // bundledRingtones over the same player, defaults and folder; `log` to
  // nativeLog.
  CallAudioManager(platform::SoundPlayer& player, platform::UserDefaults& defaults, std::filesystem::path resources,
                   RingtoneSource ringtones = {}, LogFunction log = {});
  ~CallAudioManager();

  // The ringtone files of the program's resources ("ringtone_<name>", mp3
  // then wav, falling back to the default ringtone) and the choice stored
  // under incomingRingtoneKey.
  static RingtoneSource bundledRingtones(platform::SoundPlayer& player, platform::UserDefaults& defaults,
                                         std::filesystem::path resources, LogFunction log);

  static std::string_view toneName(Tone tone);
  static int defaultVolume(Tone tone);

  void startTone(Tone tone);
  void stopTone();
  void playEndTone();
  // `volumes`: the page's dictionary of tone name to volume; only
  // "incomingRingtone" is taken.
  void setToneVolumes(const nlohmann::json& volumes);
  // `ringtone`: an index 0 to 8.
  void previewRingtone(int ringtone);
  void stopRingtonePreview();

  // The linear gain of `tone` (0 to 1) from its stored volume.
  float volumeGain(Tone tone) const;

  // Read-outs for the call screens and tests.
  std::optional<Tone> currentTone() const { return currentTone_; }
  bool hasLoopSound() const { return loopSound_ != nullptr; }
  bool hasPreviewSound() const { return previewSound_ != nullptr; }
  std::int64_t endToneToken() const { return endToneToken_; }

 private:
  // Runs `body` on the main queue: now when already there.
  void onMain(std::function<void()> body);
  std::unique_ptr<platform::Sound> bundleSound(std::string_view name, std::initializer_list<std::string_view> extensions);
  std::unique_ptr<platform::Sound> makeSound(Tone tone);
  std::optional<nlohmann::json> storedVolumes() const;
  void applyLoopVolume();
  void stopPreview();

  platform::SoundPlayer& player_;
  platform::UserDefaults& defaults_;
  std::filesystem::path resources_;
  RingtoneSource ringtones_;
  LogFunction log_;

  std::unique_ptr<platform::Sound> loopSound_;
  std::optional<Tone> currentTone_;
  std::unique_ptr<platform::Sound> endSound_;
  std::int64_t endToneToken_ = 0;
  std::unique_ptr<platform::Sound> previewSound_;
  std::optional<Tone> previewToneKey_;
  // Work posted from other threads finds the manager gone. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
