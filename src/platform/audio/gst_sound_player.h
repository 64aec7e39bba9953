// SoundPlayer on GStreamer: each Sound is a playbin on one file, prerolled
// when loaded so that play() starts at once and a broken file is refused at
// load time. Looping restarts the file from the beginning at its end. The
// named system sounds and the beep are files of the program's resources
// ("sounds/system/<name>.wav").
//
// THREAD-SAFETY: main queue only; the pipelines' messages come from their
// streaming threads and are posted to the main queue before they touch a
// sound.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/audio/sound_player.h"

namespace orvik::platform {

class GstSoundPlayer final : public SoundPlayer {
 public:
  // `resources`: the program's resource folder (AppInfo's when empty).
  // `audioSink`: the output element's factory name ("pulsesink"); the
  // desktop's default output when empty.
  explicit GstSoundPlayer(std::filesystem::path resources = {}, std::string audioSink = {});
  ~GstSoundPlayer() override;

  std::unique_ptr<Sound> load(const std::filesystem::path& file) override;
  std::unique_ptr<Sound> systemSound(const std::string& name) override;
  void beep() override;

 private:
  std::filesystem::path resources_;
  std::string audioSink_;
  std::unique_ptr<Sound> beep_;
};

}  // namespace orvik::platform
