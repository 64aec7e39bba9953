// One output device as the output-device picker shows it.
#pragma once

#include <optional>
#include <string>

#include "platform/audio/audio_hardware.h"

namespace orvik {

struct AudioOutputDevice {
  platform::AudioDeviceId id = platform::kNoAudioDevice;
  std::string name;  // never empty
  std::optional<std::string> transportLabel;

  bool operator==(const AudioOutputDevice&) const = default;
};

}  // namespace orvik
