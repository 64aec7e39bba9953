// CPU cost of the call audio device: plays and captures through its WebRTC
// audio device module on a private PulseAudio daemon's null sink for a few
// seconds each, and reports the CPU time spent per second of audio, in this
// process (the device, its libpulse thread and the adapter) and in the daemon.
//
//   build/bench/bench_call_audio_device [seconds]
#include <time.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "calls/media/call_audio_device.h"
#include "calls/media/call_audio_device_module.h"
#include "modules/audio_device/include/audio_device.h"
#include "platform/audio/pulse_audio_hardware.h"
#include "platform/test_support/pulse_daemon.h"

namespace {

// Plays a 440 Hz tone and swallows what is captured, as cheaply as WebRTC's
// transport would at best.
class ToneTransport final : public webrtc::AudioTransport {
 public:
  int32_t RecordedDataIsAvailable(const void*, size_t frames, size_t, size_t, uint32_t, uint32_t, int32_t, uint32_t,
                                  bool, uint32_t&) override {
    captured += frames;
    return 0;
  }
  int32_t NeedMorePlayData(size_t frames, size_t, size_t channels, uint32_t rate, void* out, size_t& produced,
                           int64_t*, int64_t*) override {
    auto* samples = static_cast<int16_t*>(out);
    for (size_t i = 0; i < frames; ++i) {
      const auto value = static_cast<int16_t>(8000 * std::sin(phase));
      phase += 2 * M_PI * 440.0 / rate;
      for (size_t c = 0; c < channels; ++c) samples[i * channels + c] = value;
    }
    played += frames;
    produced = frames;
    return 0;
  }
  void PullRenderData(int, int, size_t, size_t, void*, int64_t*, int64_t*) override {}

  double phase = 0;
  std::atomic<std::uint64_t> played{0};
  std::atomic<std::uint64_t> captured{0};
};

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double daemonCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

void measure(const char* name, orvik::testing::PulseDaemon& daemon, orvik::platform::AudioHardware& hardware,
             bool playout, bool capture, double seconds) {
  auto device = std::make_shared<orvik::CallAudioDevice>(hardware, [](const std::string&) {});
  auto module = orvik::makeCallAudioDeviceModule(device);
  ToneTransport transport;
  module->RegisterAudioCallback(&transport);
  module->Init();
  if (playout && (module->InitPlayout() != 0 || module->StartPlayout() != 0)) std::abort();
  if (capture && (module->InitRecording() != 0 || module->StartRecording() != 0)) std::abort();
  // An idle null sink sleeps out its long block before it takes a new
  // stream's pace: measure only once audio flows.
  constexpr std::uint64_t kWarmUpFrames = 24000;
  while ((playout && transport.played < kWarmUpFrames) || (capture && transport.captured < kWarmUpFrames)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::uint64_t played0 = transport.played, captured0 = transport.captured;
  const double cpu0 = processCpuSeconds(), daemon0 = daemonCpuSeconds(daemon.pid());
  const auto wall0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = processCpuSeconds() - cpu0, daemonCpu = daemonCpuSeconds(daemon.pid()) - daemon0;
  module->Terminate();
  std::printf("%-18s %7.2f ms CPU per s (device side)  %7.2f ms per s (daemon)  played %.0f frames/s  captured %.0f frames/s\n",
              name, cpu * 1000 / wall, daemonCpu * 1000 / wall, (transport.played - played0) / wall,
              (transport.captured - captured0) / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  orvik::testing::PulseDaemon daemon({"nullA"});
  if (!daemon.isRunning()) {
    std::fprintf(stderr, "bench_call_audio_device: pulseaudio did not start\n");
    return 1;
  }
  orvik::platform::PulseAudioHardware hardware(daemon.server());
  std::printf("call audio device on a PulseAudio null sink, %.0f s each (playout 48 kHz stereo, capture mono)\n",
              seconds);
  measure("playout", daemon, hardware, true, false, seconds);
  measure("capture", daemon, hardware, false, true, seconds);
  measure("playout+capture", daemon, hardware, true, true, seconds);
  return 0;
}
