#include "calls/screens/output_device_picker.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class FakeRouting final : public AudioOutputRouting {
 public:
  std::optional<platform::AudioDeviceId> currentOutputDeviceID() override {
    reads.push_back("current");
    return current;
  }
  std::vector<AudioOutputDevice> outputDevices() override {
    reads.push_back("devices");
    return devices;
  }
  bool selectOutputDevice(platform::AudioDeviceId device) override {
    selected.push_back(device);
    return routes;
  }
  std::optional<platform::AudioDeviceId> current;
  std::vector<AudioOutputDevice> devices;
  bool routes = true;
  std::vector<std::string> reads;
  std::vector<platform::AudioDeviceId> selected;
};

class OutputDevicePickerTest : public ::testing::Test {
 protected:
  OutputDevicePickerTest() {
    routing.devices = {{1, "A", std::nullopt}, {2, "B", std::nullopt}, {3, "C", std::nullopt}};
  }
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (const auto& entry : picker.entries()) out.push_back(entry.buttonText);
    return out;
  }

  platform::VirtualQueue queue;
  FakeRouting routing;
  std::vector<std::string> events;
  std::vector<std::string> lines;
  OutputDevicePicker picker{routing, queue,
                            OutputDevicePicker::Hooks{
                                [this] { events.push_back("dismiss"); },
                                [this](bool up) { events.push_back(up ? "elevate true" : "elevate false"); },
                                [this](bool on) { events.push_back(on ? "suppress true" : "suppress false"); }},
                            [this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(OutputDevicePickerTest, TheCurrentDeviceComesFirstWithACheckMark) {
  struct Case {
    std::optional<platform::AudioDeviceId> current;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {2, {"✓ B", "A", "C"}},
      {3, {"✓ C", "A", "B"}},
      {1, {"✓ A", "B", "C"}},
      {std::nullopt, {"A", "B", "C"}},
      {9, {"A", "B", "C"}},  // a current device that is not listed
  };
  for (const auto& c : cases) {
    routing.current = c.current;
    EXPECT_EQ(texts(), c.shown);
  }
  // The current id is read before the list, every time the buttons are built.
  routing.reads.clear();
  (void)picker.entries();
  EXPECT_EQ(routing.reads, (std::vector<std::string>{"current", "devices"}));
}

TEST_F(OutputDevicePickerTest, RepeatedNamesAreToldApartByTransport) {
  routing.devices = {{1, "Speakers", "USB"}, {2, "Speakers", "Bluetooth"}, {3, "Headset", "Bluetooth"},
                     {4, "Speakers", std::nullopt}};
  routing.current = 2;
  EXPECT_EQ(texts(), (std::vector<std::string>{"✓ Speakers (Bluetooth)", "Speakers (USB)", "Headset", "Speakers"}));
  routing.devices.clear();
  EXPECT_TRUE(texts().empty());
}

TEST_F(OutputDevicePickerTest, ChoosingRoutesAndLogsEvenTheCurrentDevice) {
  routing.current = 2;
  auto entries = picker.entries();
  picker.select(entries[0]);
  routing.routes = false;
  picker.select(entries[1]);
  EXPECT_EQ(routing.selected, (std::vector<platform::AudioDeviceId>{2, 1}));
  EXPECT_EQ(lines, (std::vector<std::string>{"[OutputPicker] user tapped 'B' (id=2, was current=true)",
                                             "[OutputPicker] routeCallOutput returned true",
                                             "[OutputPicker] user tapped 'A' (id=1, was current=false)",
                                             "[OutputPicker] routeCallOutput returned false"}));
  routing.current.reset();
  lines.clear();
  entries = picker.entries();
  picker.select(entries[0]);
  EXPECT_EQ(lines.front(), "[OutputPicker] user tapped 'A' (id=1, was current=false)");
}

TEST_F(OutputDevicePickerTest, OpeningElevatesAtOnceAndClosingSettles035SecondsLater) {
  picker.presentedChanged(true);
  EXPECT_EQ(events, (std::vector<std::string>{"suppress true", "elevate true"}));
  events.clear();
  picker.presentedChanged(false);
  queue.advance(0.34);
  EXPECT_TRUE(events.empty());
  queue.advance(0.01);
  // The return-to-call panel may show itself again once the dialog is gone.
  EXPECT_EQ(events, (std::vector<std::string>{"suppress false", "dismiss", "elevate false"}));
}

TEST_F(OutputDevicePickerTest, ReopeningBeforeTheCloseSettlesKeepsTheDialogsState) {
  picker.presentedChanged(true);
  picker.presentedChanged(false);
  queue.advance(0.2);
  picker.presentedChanged(true);
  queue.advance(1.0);
  EXPECT_EQ(events, (std::vector<std::string>{"suppress true", "elevate true", "suppress true", "elevate true"}));
}

TEST_F(OutputDevicePickerTest, APickerGoneBeforeItsCloseSettlesDoesNothing) {
  auto gone = std::make_unique<OutputDevicePicker>(routing, queue,
                                                   OutputDevicePicker::Hooks{.onDismiss = [this] { events.push_back("dismiss"); }});
  gone->presentedChanged(false);
  gone.reset();
  queue.advance(1.0);
  EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace orvik
