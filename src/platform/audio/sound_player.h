// Short sounds played whole: call tones, ringtones and the program's stand-ins
// for the desktop's named sounds. A Sound is loaded once and played, looped,
// stopped and re-played; the player also finds the named system sounds
// ("Funk", "Pop") among the program's own resources and sounds the beep.
//
// Backends: GstSoundPlayer (GStreamer playbin) and FakeSoundPlayer.
// THREAD-SAFETY: main queue only. A sound that ends by itself says so on the
// main queue (isPlaying() turns false there).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace orvik::platform {

class Sound {
 public:
  virtual ~Sound() = default;
  // False when the sound is already playing or cannot start.
  virtual bool play() = 0;
  // Stops and rewinds; true when it was playing.
  virtual bool stop() = 0;
  virtual bool isPlaying() const = 0;
  virtual void setLoops(bool loops) = 0;
  virtual bool loops() const = 0;
  // Linear gain, 0 to 1.
  virtual void setVolume(float volume) = 0;
  virtual float volume() const = 0;
};

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;

  // The GStreamer player, made on first use.
  static SoundPlayer& shared();

  // Loads `file`; nothing when it is missing or not a sound.
  virtual std::unique_ptr<Sound> load(const std::filesystem::path& file) = 0;
  // One of the desktop's named sounds, as the program ships them.
  virtual std::unique_ptr<Sound> systemSound(const std::string& name) = 0;
  // The alert beep.
  virtual void beep() = 0;
};

}  // namespace orvik::platform
