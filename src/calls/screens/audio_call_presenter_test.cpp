// The audio call screen's model and what the screen shows of it.
#include "calls/screens/audio_call_presenter.h"

#include <gtest/gtest.h>

#include "calls/control/call_strings.h"

namespace orvik {
namespace {

using Role = CircleButtonLook::Role;
using Controls = AudioCallPresentation::Controls;
using Upgrade = AudioCallPresentation::Upgrade;

std::vector<Role> roles(const AudioCallPresentation& p) {
  std::vector<Role> out;
  for (const auto& b : p.buttons) out.push_back(b.role);
  return out;
}

const CircleButtonLook& button(const AudioCallPresentation& p, Role role) {
  for (const auto& b : p.buttons) {
    if (b.role == role) return b;
  }
  throw std::logic_error("no such button");
}

class AudioCallPresenterTest : public ::testing::Test {
 protected:
  CallStrings strings{[](const std::string&) {}};
};

TEST_F(AudioCallPresenterTest, ANewModelStartsCallingInTheDarkWithEveryFlagClear) {
  AudioCallViewModel plain(strings);
  EXPECT_EQ(plain.state().timerText, "Calling...");
  EXPECT_TRUE(plain.state().isDarkMode);
  AudioCallViewState expected;
  expected.timerText = "Calling...";
  EXPECT_EQ(plain.state(), expected);

  strings.setCallStrings(R"(setCallStrings:{"calling":"Llamando...","lang":"es"})");
  AudioCallViewModel spanish(strings);
  EXPECT_EQ(spanish.state().timerText, "Llamando...");
}

TEST_F(AudioCallPresenterTest, ModelObserversHearOfRealChangesOnly) {
  AudioCallViewModel model(strings);
  int heard = 0;
  auto subscription = model.addObserver([&] { ++heard; });
  model.update([](AudioCallViewState& s) { s.isConnected = true; });
  model.update([](AudioCallViewState& s) { s.isConnected = true; });
  model.update([](AudioCallViewState& s) {
    s.limitWarning = "5 minutes left";
    s.callLimitCanExtend = true;
  });
  EXPECT_EQ(heard, 2);
}

TEST_F(AudioCallPresenterTest, ControlsRowsFollowDirectionAndConnection) {
  struct Case {
    const char* what;
    bool incoming, connected;
    Controls controls;
    std::vector<Role> buttons;
    bool dots;
  };
  const Case cases[] = {
      {"incoming, ringing", true, false, Controls::ringing, {Role::decline, Role::accept}, true},
      {"incoming, connected", true, true, Controls::inCall, {Role::output, Role::mute, Role::end}, false},
      {"outgoing, ringing out", false, false, Controls::inCall, {Role::output, Role::mute, Role::end}, true},
      {"outgoing, connected", false, true, Controls::inCall, {Role::output, Role::mute, Role::end}, false},
  };
  for (const auto& c : cases) {
    AudioCallViewState s;
    s.isIncoming = c.incoming;
    s.isConnected = c.connected;
    const auto p = presentAudioCall(s, strings);
    EXPECT_EQ(p.controls, c.controls) << c.what;
    EXPECT_EQ(roles(p), c.buttons) << c.what;
    EXPECT_EQ(p.showPulsingDots, c.dots) << c.what;
  }
}

TEST_F(AudioCallPresenterTest, RingingButtonsAreRedAndGreenCirclesOf64) {
  AudioCallViewState s;
  s.isIncoming = true;
  const auto p = presentAudioCall(s, strings);
  const auto& decline = button(p, Role::decline);
  const auto& accept = button(p, Role::accept);
  EXPECT_EQ(decline.icon, "phone.down.fill");
  EXPECT_EQ(accept.icon, "phone.fill");
  EXPECT_EQ(decline.size, 64);
  EXPECT_EQ(decline.fill, callcolors::danger);
  EXPECT_EQ(accept.fill, callcolors::acceptGreen);
  EXPECT_EQ(accept.iconColor, Rgba::white());
  EXPECT_EQ(accept.shadow, callcolors::acceptGreen.withAlpha(0.4));
  EXPECT_EQ(accept.shadowRadius, 8);
}

TEST_F(AudioCallPresenterTest, MuteButtonShowsTheMutedMicrophoneInInkOnWhite) {
  struct Case {
    bool dark, muted;
    const char* icon;
    Rgba fill, iconColor;
  };
  const Case cases[] = {
      {true, true, "microphone.slash.fill", Rgba::white(0.92), callcolors::ink},
      {false, true, "microphone.slash.fill", Rgba::white(0.92), callcolors::ink},
      {true, false, "microphone.fill", Rgba::white(0.15), Rgba::white()},
      {false, false, "microphone.fill", callcolors::ink.withAlpha(0.08), callcolors::ink},
  };
  for (const auto& c : cases) {
    AudioCallViewState s;
    s.isDarkMode = c.dark;
    s.isMuted = c.muted;
    const auto p = presentAudioCall(s, strings);
    const auto& mute = button(p, Role::mute);
    EXPECT_EQ(mute.icon, c.icon);
    EXPECT_EQ(mute.isActive, c.muted);
    EXPECT_EQ(mute.fill, c.fill) << c.dark << c.muted;
    EXPECT_EQ(mute.iconColor, c.iconColor) << c.dark << c.muted;
  }
  // The end button is white-on-red in both appearances.
  AudioCallViewState light;
  light.isDarkMode = false;
  const auto p = presentAudioCall(light, strings);
  const auto& end = button(p, Role::end);
  EXPECT_EQ(end.fill, callcolors::danger);
  EXPECT_EQ(end.iconColor, Rgba::white());
  const auto& output = button(p, Role::output);
  EXPECT_EQ(output.icon, "speaker.wave.3.fill");
  EXPECT_EQ(output.hoverFill, callcolors::ink.withAlpha(0.14));
}

TEST_F(AudioCallPresenterTest, TimerTurnsGoldWhenConnectedAndTheMutedPillNeedsAConnection) {
  struct Case {
    bool dark, connected, remoteMuted;
    Rgba timer;
    double spacing;
    bool pill;
  };
  const Case cases[] = {
      {true, false, false, Rgba::white(0.6), 0.3, false},
      {false, false, true, callcolors::ink.withAlpha(0.55), 0.3, false},  // not connected: no pill
      {true, true, false, callcolors::gold, 1.5, false},
      {false, true, true, callcolors::gold, 1.5, true},
  };
  for (const auto& c : cases) {
    AudioCallViewState s;
    s.isDarkMode = c.dark;
    s.isConnected = c.connected;
    s.remoteMuted = c.remoteMuted;
    s.timerText = "00:42";
    const auto p = presentAudioCall(s, strings);
    EXPECT_EQ(p.timerText, "00:42");
    EXPECT_EQ(p.timerColor, c.timer);
    EXPECT_EQ(p.timerLetterSpacing, c.spacing);
    EXPECT_EQ(p.showMutedPill, c.pill);
  }
}

TEST_F(AudioCallPresenterTest, PartyBlockTextsAndColours) {
  AudioCallViewState s;
  s.calleeName = "anna_lee";
  s.calleeOrvikID = "1234567";
  auto p = presentAudioCall(s, strings);
  EXPECT_EQ(p.name, "anna_lee");
  EXPECT_EQ(p.idLine, "OrvikID: 123 456 7");
  EXPECT_EQ(p.ringColor, Rgba::grey(0.62));
  EXPECT_FALSE(p.showSubscriberBadge);
  EXPECT_EQ(p.background, callcolors::audioBackground);
  EXPECT_TRUE(p.radialGlow);
  EXPECT_EQ(p.secureNotice, "You are making a secure end to\nend encrypted call");

  s.calleeOrvikID.clear();
  s.isSubscribed = true;
  s.isDarkMode = false;
  p = presentAudioCall(s, strings);
  EXPECT_FALSE(p.idLine);
  EXPECT_EQ(p.ringColor, callcolors::gold);
  EXPECT_TRUE(p.showSubscriberBadge);
  EXPECT_EQ(p.background, Rgba::white());
  EXPECT_FALSE(p.radialGlow);
  EXPECT_EQ(p.nameColor, callcolors::ink);

  s.isSubscribed = false;
  EXPECT_EQ(presentAudioCall(s, strings).ringColor, Rgba::grey(0.72));
}

TEST_F(AudioCallPresenterTest, PageTextsAreShownAsThePageSentThem) {
  strings.setCallStrings(
      R"(setCallStrings:{"secureCall":"Llamada cifrada de extremo a extremo","orvikidLabel":"ID:"})");
  AudioCallViewState s;
  s.calleeOrvikID = "+1 555";
  const auto p = presentAudioCall(s, strings);
  EXPECT_EQ(p.secureNotice, "Llamada cifrada de extremo a extremo");
  EXPECT_EQ(p.idLine, "ID: 155 5");
}

TEST_F(AudioCallPresenterTest, UpgradeStatesPickThePillOrTheBanner) {
  struct Case {
    VideoUpgradeState state;
    const char* name;
    Upgrade upgrade;
    const char* text;
  };
  const Case cases[] = {
      {VideoUpgradeState::none, "Bob", Upgrade::none, ""},
      {VideoUpgradeState::requesting, "Bob", Upgrade::pill, "Switching to video…"},
      {VideoUpgradeState::connecting, "Bob", Upgrade::pill, "Connecting video…"},
      {VideoUpgradeState::incomingRequest, "Bob", Upgrade::requestBanner, "Bob wants to switch to video"},
      {VideoUpgradeState::incomingRequest, "", Upgrade::requestBanner, "They wants to switch to video"},
  };
  for (const auto& c : cases) {
    AudioCallViewState s;
    s.calleeName = c.name;
    s.upgradeState = c.state;
    const auto p = presentAudioCall(s, strings);
    EXPECT_EQ(p.upgrade, c.upgrade);
    EXPECT_EQ(p.upgradeText, c.text);
  }
}

TEST_F(AudioCallPresenterTest, LimitBannerOffersExtendOnlyWithAWarning) {
  AudioCallViewState s;
  s.callLimitCanExtend = true;
  auto p = presentAudioCall(s, strings);
  EXPECT_FALSE(p.limitWarning);
  EXPECT_FALSE(p.limitCanExtend);
  s.limitWarning = "Your call ends in 5 minutes.";
  p = presentAudioCall(s, strings);
  EXPECT_EQ(p.limitWarning, "Your call ends in 5 minutes.");
  EXPECT_TRUE(p.limitCanExtend);
  s.callLimitCanExtend = false;
  EXPECT_FALSE(presentAudioCall(s, strings).limitCanExtend);
}

}  // namespace
}  // namespace orvik
