#include "calls/media/call_ice_manager.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

class CallICEManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ice.onApplyCandidate = [this](const std::string& c, const std::optional<std::string>& mid, std::int32_t index) {
      applied.push_back({c, mid, index});
    };
  }
  std::vector<std::string> appliedCandidates() const {
    std::vector<std::string> out;
    for (const auto& c : applied) out.push_back(c.candidate);
    return out;
  }

  CallICEManager ice;
  std::vector<RemoteICECandidate> applied;
};

TEST_F(CallICEManagerTest, HoldsCandidatesUntilTheRemoteDescriptionThenReleasesThemInOrder) {
  ice.addRemoteCandidate("c1", "0", 0);
  ice.addRemoteCandidate("c2", std::nullopt, 1);
  ice.addRemoteCandidate("c3", "1", 1);
  EXPECT_TRUE(applied.empty());
  ice.remoteDescriptionWasSet();
  EXPECT_EQ(appliedCandidates(), (std::vector<std::string>{"c1", "c2", "c3"}));
  EXPECT_EQ(applied[1].sdpMid, std::nullopt);
  EXPECT_EQ(applied[1].sdpMLineIndex, 1);
  EXPECT_TRUE(ice.pendingCandidates().empty());
  EXPECT_TRUE(ice.isRemoteDescriptionSet());

  ice.addRemoteCandidate("c4", "0", 0);
  EXPECT_EQ(applied.size(), 4u);
  EXPECT_TRUE(ice.pendingCandidates().empty());
}

TEST_F(CallICEManagerTest, RenegotiationHoldsCandidatesAgainUntilTheNextDescription) {
  ice.remoteDescriptionWasSet();
  EXPECT_TRUE(applied.empty());
  ice.beginRenegotiation();
  ice.addRemoteCandidate("r1", "0", 0);
  ice.addRemoteCandidate("r2", "0", 0);
  EXPECT_TRUE(applied.empty());
  ice.remoteDescriptionWasSet();
  EXPECT_EQ(appliedCandidates(), (std::vector<std::string>{"r1", "r2"}));
}

TEST_F(CallICEManagerTest, ResetDiscardsHeldCandidatesAndStartsHolding) {
  ice.addRemoteCandidate("old", "0", 0);
  ice.reset();
  ice.remoteDescriptionWasSet();
  EXPECT_TRUE(applied.empty());
  ice.reset();
  ice.addRemoteCandidate("new", "0", 0);
  EXPECT_TRUE(applied.empty());
  EXPECT_EQ(ice.pendingCandidates().size(), 1u);
}

TEST_F(CallICEManagerTest, ACandidateArrivingDuringTheDrainIsAppliedNotLost) {
  ice.onApplyCandidate = [this](const std::string& c, const std::optional<std::string>& mid, std::int32_t index) {
    applied.push_back({c, mid, index});
    if (c == "c1") ice.addRemoteCandidate("during", "0", 0);
  };
  ice.addRemoteCandidate("c1", "0", 0);
  ice.addRemoteCandidate("c2", "0", 0);
  ice.remoteDescriptionWasSet();
  EXPECT_EQ(appliedCandidates(), (std::vector<std::string>{"c1", "during", "c2"}));
}

TEST_F(CallICEManagerTest, WithoutAClosureTheDrainStillEmptiesTheList) {
  ice.onApplyCandidate = nullptr;
  ice.addRemoteCandidate("c1", "0", 0);
  ice.remoteDescriptionWasSet();
  EXPECT_TRUE(ice.pendingCandidates().empty());
}

}  // namespace
}  // namespace orvik
