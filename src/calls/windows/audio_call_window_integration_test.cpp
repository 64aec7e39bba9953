// The audio call window as a person meets it, under Xvfb with a private
// PulseAudio daemon whose null sinks stand for the output devices: an
// incoming call rings with Decline and Accept; once connected the window
// shows Output, Mute and End with the call time in gold; the output dialog
// lists the sinks with the call's current one first, and choosing the other
// moves the call's stream there. A screenshot of each state is written to
// test-output/AudioCallWindowIntegration/ in the build tree.
#include <gtk/gtk.h>

#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <cstring>

#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/media/call_audio_device.h"
#include "calls/media/call_audio_router.h"
#include "calls/screens/audio_call_elements.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/output_device_picker.h"
#include "calls/screens/output_device_picker_dialog.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/windows/audio_call_window_gtk.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_audio_call_window.h"
#include "platform/audio/pulse_audio_hardware.h"
#include "platform/capture_authorization.h"
#include "platform/test_support/pulse_daemon.h"
#include "platform/window_placement.h"

namespace orvik {
namespace {

using Names = std::vector<std::string>;
constexpr const char* kSuite = "AudioCallWindowIntegration";

// The far side of a call: silence, so that the call's stream plays.
class SilentCall final : public CallAudioDeviceDelegate {
 public:
  platform::AudioStatus getPlayoutData(platform::AudioRenderFlags&, std::uint64_t, std::uint32_t frames,
                                       platform::AudioBufferList* buffers) override {
    for (std::uint32_t i = 0; i < buffers->count; ++i) {
      std::memset(buffers->buffers[i].data, 0, buffers->buffers[i].byteSize);
    }
    (void)frames;
    return platform::kAudioOk;
  }
  platform::AudioStatus deliverRecordedData(platform::AudioRenderFlags&, std::uint64_t, std::uint32_t,
                                            const platform::AudioBufferList*) override {
    return platform::kAudioOk;
  }
  void notifyAudioOutputInterrupted() override {}
  void notifyAudioOutputParametersChange() override {}
};

class AlwaysAuthorized final : public platform::CaptureAuthorization {
 public:
  platform::CaptureAuthorizationStatus status(platform::CaptureDevice) const override {
    return platform::CaptureAuthorizationStatus::authorized;
  }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override { done(true); }
};

class NoAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string& title, const std::string&) override { titles.push_back(title); }
  std::vector<std::string> titles;
};

class AudioCallWindowIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!orvik::testing::PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed (scripts/deps)";
    ASSERT_TRUE(daemon.isRunning()) << "pulseaudio did not start";
    if (!testing::startGtk()) GTEST_SKIP() << "no display";
    hardware = std::make_unique<platform::PulseAudioHardware>(daemon.server());
    device = std::make_shared<CallAudioDevice>(*hardware, [](const std::string&) {});
    router = CallAudioRouter::create(*hardware, [this] { return device; }, [](const std::string&) {});
    routing = std::make_unique<RouterAudioOutputRouting>([this]() -> CallAudioRouter& { return *router; });
    placement = platform::makeWindowPlacement();
    AudioCallViewOptions view;
    view.outputRouting = routing.get();
    view.logoFile = std::filesystem::path(ORVIK_SOURCE_DIR) / "resources" / "images" / "orvik_desktop_logo.svg";
    controller = NativeAudioCallWindow::create({calls, authorization, strings, nullptr, panel, alerts,
                                                [this](const AudioCallWindowSetup& setup, AudioCallViewModel& model,
                                                       AudioCallActions actions, AudioCallWindowDelegate& delegate)
                                                    -> std::unique_ptr<AudioCallWindowSurface> {
                                                  auto built = std::make_unique<AudioCallWindowGtk>(
                                                      AudioCallWindowGtk::Context{*placement, strings, viewOptions},
                                                      setup, model, std::move(actions), delegate);
                                                  gtkWindow = built.get();
                                                  return built;
                                                },
                                                [](const std::string&) {}});
    viewOptions = view;
  }

  void TearDown() override {
    controller.reset();
    testing::iterateUntil([] { return false; }, 0.1);
    if (device) {
      device->stopPlayout();
      device->terminateDevice();
    }
    router.reset();
  }

  Gtk::Window& window() { return gtkWindow->window(); }
  Gtk::Button* button(const std::string& name) {
    return dynamic_cast<Gtk::Button*>(testing::findByName(window(), name));
  }
  std::optional<platform::AudioDeviceId> idOf(const std::string& uid) {
    for (auto id : hardware->deviceIds().value_or(std::vector<platform::AudioDeviceId>{})) {
      if (hardware->deviceUID(id) == uid) return id;
    }
    return std::nullopt;
  }
  bool streamOn(const std::string& sink) {
    return testing::iterateUntil([&] { return daemon.sinksWithStreams() == std::vector<std::string>{sink}; });
  }
  void screenshot(const std::string& name) {
    testing::settle(window());
    EXPECT_FALSE(testing::saveScreenshot(window(), kSuite, name).empty()) << name;
  }

  orvik::testing::PulseDaemon daemon;
  std::unique_ptr<platform::PulseAudioHardware> hardware;
  std::shared_ptr<CallAudioDevice> device;
  std::shared_ptr<CallAudioRouter> router;
  std::unique_ptr<RouterAudioOutputRouting> routing;
  std::unique_ptr<platform::WindowPlacement> placement;
  AudioCallViewOptions viewOptions;
  CallStrings strings{[](const std::string&) {}};
  testing::RecordingCallControl calls;
  AlwaysAuthorized authorization;
  NoFloatingCallPanel panel;
  NoAlerts alerts;
  AudioCallWindowGtk* gtkWindow = nullptr;
  std::shared_ptr<NativeAudioCallWindow> controller;
  SilentCall far;
};

TEST_F(AudioCallWindowIntegration, AnIncomingCallRingsConnectsAndMovesItsAudio) {
  calls.state = CallState::Kind::ringing;
  controller->open({"anna_lee", "15551234567", "", true, true, false, false});
  ASSERT_TRUE(gtkWindow);
  ASSERT_TRUE(testing::iterateUntil([&] { return window().get_mapped(); }));
  EXPECT_EQ(window().get_title(), "Orvik – Incoming Audio Call");
  EXPECT_EQ(testing::shownNames(window(), "audio-call-"),
            (Names{"audio-call-window", "audio-call-view", "audio-call-column", "audio-call-logo", "audio-call-name",
                   "audio-call-id", "audio-call-timer", "audio-call-dots", "audio-call-secure-notice",
                   "audio-call-controls", "audio-call-decline", "audio-call-accept"}));
  const auto ringing = testing::shownTexts(window());
  for (const char* text : {"anna_lee", "OrvikID: 155 512 345 67", "Incoming call",
                           "You are making a secure end to\nend encrypted call"}) {
    EXPECT_NE(std::find(ringing.begin(), ringing.end(), text), ringing.end()) << text;
  }
  EXPECT_TRUE(testing::iterateUntil([&] { return window().get_width() > 0; }));
  EXPECT_EQ(window().get_width(), NativeAudioCallWindow::kWidth);
  screenshot("1-incoming");

  testing::click(button("audio-call-accept"));
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"acceptCall"}));

  // The manager answers: the window is opened as connecting, the call's
  // audio starts, and the call connects.
  calls.state = CallState::Kind::connecting;
  controller->open({"anna_lee", "15551234567", "", true, true, true, false});
  ASSERT_TRUE(device->initializeWithDelegate(&far));
  ASSERT_TRUE(device->initializePlayout());
  ASSERT_TRUE(device->startPlayout());
  ASSERT_TRUE(streamOn("nullA"));
  EXPECT_EQ(testing::shownNames(window(), "audio-call-")
                .back(), "audio-call-end");
  screenshot("2-connecting");

  calls.state = CallState::Kind::connected;
  controller->model().update([](AudioCallViewState& s) {
    s.isConnected = true;
    s.timerText = "00:07";
  });
  testing::settle(window());
  const Names inCall = testing::shownNames(window(), "audio-call-");
  EXPECT_EQ(Names(inCall.end() - 3, inCall.end()), (Names{"audio-call-output", "audio-call-mute", "audio-call-end"}));
  EXPECT_EQ(std::count(inCall.begin(), inCall.end(), "audio-call-dots"), 0);
  auto& view = gtkWindow->view();
  EXPECT_EQ(view.presentation().timerColor, callcolors::gold);
  const auto connected = testing::shownTexts(window());
  EXPECT_NE(std::find(connected.begin(), connected.end(), "00:07"), connected.end());
  screenshot("3-connected");

  testing::click(button("audio-call-mute"));
  EXPECT_EQ(calls.calls.back(), "setMuted true");
  auto* mute = dynamic_cast<AudioCircleBtn*>(button("audio-call-mute"));
  ASSERT_NE(mute, nullptr);
  EXPECT_EQ(mute->icon().symbol(), "microphone.slash.fill");
  screenshot("4-muted");

  // The output dialog: both sinks, the call's own first and marked.
  testing::click(button("audio-call-output"));
  ASSERT_TRUE(testing::iterateUntil([&] { return view.outputPicker() && view.outputPicker()->get_mapped(); }));
  auto buttons = view.outputPicker()->buttons();
  ASSERT_EQ(buttons.size(), 3u);
  const auto a = idOf("nullA");
  const auto b = idOf("nullB");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(std::string(buttons[0]->get_name()), "output-device-" + std::to_string(*a));
  EXPECT_EQ(std::string(buttons[0]->get_label()).rfind("✓ ", 0), 0u);
  EXPECT_EQ(std::string(buttons[1]->get_name()), "output-device-" + std::to_string(*b));
  EXPECT_EQ(std::string(buttons[1]->get_label()).rfind("✓ ", 0), std::string::npos);
  EXPECT_EQ(std::string(buttons[2]->get_label()), "Cancel");
  testing::settle(*view.outputPicker());
  EXPECT_FALSE(testing::saveScreenshot(*view.outputPicker(), kSuite, "5-output-picker").empty());

  testing::click(buttons[1]);
  EXPECT_TRUE(streamOn("nullB"));
  EXPECT_TRUE(device->isPlaying());
  EXPECT_TRUE(testing::iterateUntil([&] { return !view.isOutputPickerShown(); }));

  // Opened again, the new sink leads.
  testing::click(button("audio-call-output"));
  ASSERT_TRUE(testing::iterateUntil([&] { return view.outputPicker() && view.outputPicker()->get_mapped(); }));
  buttons = view.outputPicker()->buttons();
  EXPECT_EQ(std::string(buttons[0]->get_name()), "output-device-" + std::to_string(*b));
  testing::click(buttons.back());
  EXPECT_TRUE(testing::iterateUntil([&] { return !view.isOutputPickerShown(); }));

  // Hanging up goes to the manager; the manager closes the window.
  testing::click(button("audio-call-end"));
  EXPECT_EQ(calls.calls.back(), "endCall");
  controller->close();
  EXPECT_TRUE(testing::iterateUntil([&] { return !controller->hasWindow(); }));
}

TEST_F(AudioCallWindowIntegration, AnOutgoingCallShowsItsInCallRowInTheLightTheme) {
  controller->open({"bob", "4711", "", false, false, false, true});
  ASSERT_TRUE(gtkWindow);
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"makeCall bob 4711 audio"}));
  ASSERT_TRUE(testing::iterateUntil([&] { return window().get_mapped(); }));
  EXPECT_EQ(window().get_title(), "Orvik – Audio Call");
  const Names shown = testing::shownNames(window(), "audio-call-");
  EXPECT_NE(std::find(shown.begin(), shown.end(), "audio-call-dots"), shown.end());
  EXPECT_EQ(Names(shown.end() - 3, shown.end()), (Names{"audio-call-output", "audio-call-mute", "audio-call-end"}));
  controller->model().update([](AudioCallViewState& s) {
    s.limitWarning = "Free calls are limited. This call ends in 5 minutes.";
    s.callLimitCanExtend = true;
    s.upgradeState = VideoUpgradeState::incomingRequest;
  });
  testing::settle(window());
  EXPECT_TRUE(testing::isShown(*testing::findByName(window(), "call-limit-extend")));
  EXPECT_TRUE(testing::isShown(*testing::findByName(window(), "audio-call-upgrade-request")));
  screenshot("6-outgoing-light-banners");
  testing::click(testing::findByName(window(), "call-limit-extend"));
  testing::click(testing::findByName(window(), "audio-call-upgrade-accept"));
  testing::click(testing::findByName(window(), "call-limit-close"));
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"makeCall bob 4711 audio", "extendCall true", "acceptVideoUpgrade"}));
  testing::settle(window());
  EXPECT_FALSE(testing::isShown(*testing::findByName(window(), "call-limit-banner")));

  // No call any more: the close button closes the window directly.
  calls.state = CallState::Kind::ended;
  window().close();
  EXPECT_TRUE(testing::iterateUntil([&] { return !controller->hasWindow(); }));
}

}  // namespace
}  // namespace orvik
