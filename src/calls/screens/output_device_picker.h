// The output-device picker of the call screens, without its dialog: the
// list of output devices with the current one first and marked, the choice
// handed to the call audio router with its log lines, and what happens when
// the dialog opens and closes. OutputDevicePickerDialog shows it.
//
//   OutputDevicePicker picker(routing, mainQueue(), {onDismiss, onElevate, suppressFloatingPanel});
//   picker.presentedChanged(true);              // the dialog opened
//   for (auto& entry : picker.entries()) …      // its buttons
//   picker.select(entry);                        // a button
//   picker.presentedChanged(false);              // onDismiss, onElevate(false) 0.35 s later
//
// Owner: the call view that shows the dialog. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/audio_output_device.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class CallAudioRouter;

// What the picker needs of the call audio router.
class AudioOutputRouting {
 public:
  virtual ~AudioOutputRouting() = default;
  virtual std::optional<platform::AudioDeviceId> currentOutputDeviceID() = 0;
  virtual std::vector<AudioOutputDevice> outputDevices() = 0;
  // Routes call audio to the device; whether that worked.
  virtual bool selectOutputDevice(platform::AudioDeviceId device) = 0;
};

// The call audio router behind that interface, reached through `router`
// each time (so that the router may be made on first use).
class RouterAudioOutputRouting final : public AudioOutputRouting {
 public:
  explicit RouterAudioOutputRouting(std::function<CallAudioRouter&()> router) : router_(std::move(router)) {}
  std::optional<platform::AudioDeviceId> currentOutputDeviceID() override;
  std::vector<AudioOutputDevice> outputDevices() override;
  bool selectOutputDevice(platform::AudioDeviceId device) override;

 private:
  std::function<CallAudioRouter&()> router_;
};

struct OutputDeviceEntry {
  AudioOutputDevice device;
  std::string label;       // the device's name, told apart by transport where names repeat
  std::string buttonText;  // the label, after "✓ " for the current device
  bool isCurrent = false;

  bool operator==(const OutputDeviceEntry&) const = default;
};

class OutputDevicePicker {
 public:
  static constexpr double kDismissDelay = 0.35;
  static constexpr const char* kTitle = "Audio Output";
  static constexpr const char* kCancel = "Cancel";
  // The switch happens at once, also during a call.
  static constexpr const char* kMessage = "Choose the output device for calls. The change applies right away.";
  static constexpr const char* kCurrentMark = "✓ ";

  using LogFunction = std::function<void(const std::string& line)>;

  struct Hooks {
    // After the dialog has closed.
    std::function<void()> onDismiss{};
    // True when the dialog opens, false after it has closed.
    std::function<void(bool)> onElevate{};
    // Keeps the return-to-call panel from showing itself while the dialog
    // is open.
    std::function<void(bool)> setSuppressAutoShow{};
  };

  // `log` empty means nativeLog.
  OutputDevicePicker(AudioOutputRouting& routing, platform::TaskQueue& queue, Hooks hooks, LogFunction log = {});
  ~OutputDevicePicker();
  OutputDevicePicker(const OutputDevicePicker&) = delete;
  OutputDevicePicker& operator=(const OutputDevicePicker&) = delete;

  // Read afresh each time: the current id, then the list; the current device
  // first, the others in the router's order.
  std::vector<OutputDeviceEntry> entries();
  // A device button: logs, routes, logs the result.
  void select(const OutputDeviceEntry& entry);
  // The dialog opened (true) or closed by any way (false).
  void presentedChanged(bool presented);

 private:
  void log(const std::string& line) const;

  AudioOutputRouting& routing_;
  platform::TaskQueue& queue_;
  Hooks hooks_;
  LogFunction log_;
  std::optional<platform::AudioDeviceId> currentAtListing_;
  std::shared_ptr<platform::WorkItem> closing_;
};

}  // namespace orvik
