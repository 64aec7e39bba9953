#include "files/orvik_helper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "files/recording_save_panels.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_system_opener.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {
namespace fs = std::filesystem;
using orvik::testing::TempDir;
using platform::VirtualQueue;

class OrvikHelperTest : public ::testing::Test {
 protected:
  OrvikHelperTest() {
    fs::create_directories(downloads_);
    fs::create_directories(sources_);
  }

  fs::path source(const std::string& name, const std::string& bytes = "bytes") {
    TempDir::writeFile(sources_ / name, bytes);
    return sources_ / name;
  }

  TempDir dir_;
  fs::path downloads_ = dir_ / "Downloads";
  fs::path sources_ = dir_ / "documents";
  VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  RecordingSavePanels panels_;
  platform::RecordingSystemOpener opener_;
  std::optional<fs::path> downloadsAnswer_ = downloads_;
  OrvikHelper helper_{panels_, opener_, defaults_, queue_, [this] { return downloadsAnswer_; }};
};

TEST_F(OrvikHelperTest, RevealsTheSameFileOnceWithinASecond) {
  struct Step {
    double after;
    const char* file;
  };
  struct Case {
    const char* label;
    std::vector<Step> steps;
    std::size_t reveals;
  };
  const std::vector<Case> cases = {
      {"same file 0.5 s apart", {{0, "/d/a.pdf"}, {0.5, "/d/a.pdf"}}, 1},
      {"same file 1.5 s apart", {{0, "/d/a.pdf"}, {1.5, "/d/a.pdf"}}, 2},
      {"same file exactly 1.0 s apart", {{0, "/d/a.pdf"}, {1.0, "/d/a.pdf"}}, 2},
      {"two files at once", {{0, "/d/a.pdf"}, {0, "/d/b.pdf"}}, 2},
      {"back to the first file", {{0, "/d/a.pdf"}, {0.2, "/d/b.pdf"}, {0.2, "/d/a.pdf"}}, 3},
      {"ignored reveals do not extend the quiet time",
       {{0, "/d/a.pdf"}, {0.6, "/d/a.pdf"}, {0.6, "/d/a.pdf"}},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    platform::RecordingSystemOpener opener;
    OrvikHelper helper(panels_, opener, defaults_, queue_);
    for (const auto& step : c.steps) {
      queue_.advance(step.after);
      helper.revealInFinder(step.file);
    }
    EXPECT_EQ(opener.revealedFiles.size(), c.reveals);
    EXPECT_EQ(opener.revealedFiles.front(), fs::path(c.steps.front().file));
  }
}

struct BatchStep {
  double after;  // seconds of virtual time before this file arrives
  const char* name;
  const char* batch;
  std::int64_t count;
};
struct BatchCase {
  const char* label;
  std::vector<BatchStep> steps;
  std::vector<std::string> shown;  // after the last step and 10 more seconds
};

TEST_F(OrvikHelperTest, BatchesOpenOneChooserWhenCompleteOrAfterThreeQuietSeconds) {
  const std::vector<BatchCase> cases = {
      {"all three within the delay", {{0, "a.jpg", "b1", 3}, {1, "b.jpg", "b1", 3}, {2.5, "c.jpg", "b1", 3}},
       {"3.5 folder Choose a folder to save 3 files"}},
      {"only two arrive", {{0, "a.jpg", "b1", 3}, {1, "b.jpg", "b1", 3}},
       {"4.0 folder Choose a folder to save 2 files"}},
      {"only one arrives", {{0, "a.jpg", "b1", 3}}, {"3.0 save a.jpg"}},
      {"each file pushes the flush", {{0, "a.jpg", "b1", 4}, {2.5, "b.jpg", "b1", 4}, {2.5, "c.jpg", "b1", 4}},
       {"8.0 folder Choose a folder to save 3 files"}},
      {"the first count wins over a smaller one", {{0, "a.jpg", "b1", 3}, {1, "b.jpg", "b1", 2}},
       {"4.0 folder Choose a folder to save 2 files"}},
      {"the first count wins over a larger one", {{0, "a.jpg", "b1", 2}, {1, "b.jpg", "b1", 5}},
       {"1.0 folder Choose a folder to save 2 files"}},
      {"a count below two saves at once", {{0, "a.jpg", "b1", 1}}, {"0.0 save a.jpg"}},
      {"a count of zero saves at once", {{0, "a.jpg", "b1", 0}}, {"0.0 save a.jpg"}},
      {"batches of different ids are apart", {{0, "a.jpg", "b1", 2}, {0, "b.jpg", "b2", 2}, {1, "c.jpg", "b2", 2}},
       {"1.0 folder Choose a folder to save 2 files"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingSavePanels panels;
    OrvikHelper helper(panels, opener_, defaults_, queue_);
    std::vector<std::string> shown;
    double now = 0;
    auto note = [&] {
      for (std::size_t i = shown.size(); i < panels.shown.size(); ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", now);
        const auto& panel = panels.shown[i];
        shown.push_back(std::string(time) +
                        (panel.kind == RecordingSavePanels::Kind::save ? " save " + panel.save.suggestedName
                                                                       : " folder " + panel.folder.message));
      }
    };
    auto advance = [&](double seconds) {
      for (int i = 0; i < static_cast<int>(seconds * 10 + 0.5); ++i) {
        queue_.advance(0.1);
        now += 0.1;
        note();
      }
    };
    for (const auto& step : c.steps) {
      advance(step.after);
      helper.addToSaveBatch(sources_ / step.name, step.name, step.batch, step.count);
      note();
    }
    advance(10);
    EXPECT_EQ(shown, c.shown);
    // The second batch of the last case met an open chooser and was dropped.
    EXPECT_EQ(helper.pendingBatchCount(), 0u);
  }
}

TEST_F(OrvikHelperTest, ABatchThatMeetsAnOpenChooserRaisesItAndIsDropped) {
  helper_.saveWithPanel(source("single.pdf"), "single.pdf");
  helper_.addToSaveBatch(source("a.jpg"), "a.jpg", "b1", 2);
  helper_.addToSaveBatch(source("b.jpg"), "b.jpg", "b1", 2);
  EXPECT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.raised, 1);
  EXPECT_EQ(helper_.pendingBatchCount(), 0u);

  panels_.answer(std::nullopt);
  queue_.advance(10);
  EXPECT_EQ(panels_.shown.size(), 1u);  // the batch is gone, not queued
}

TEST_F(OrvikHelperTest, ASaveRequestWhileAChooserIsOpenOnlyRaisesIt) {
  helper_.saveWithPanel(source("one.pdf"), "one.pdf");
  helper_.saveWithPanel(source("two.pdf"), "two.pdf");
  EXPECT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.raised, 1);
  EXPECT_TRUE(helper_.hasOpenPanel());

  panels_.answer(std::nullopt);
  EXPECT_FALSE(helper_.hasOpenPanel());
  helper_.saveWithPanel(source("two.pdf"), "two.pdf");
  ASSERT_EQ(panels_.shown.size(), 2u);
  EXPECT_EQ(panels_.shown[1].save.suggestedName, "two.pdf");
}

TEST_F(OrvikHelperTest, AConfirmedSaveReplacesTheChosenFileAndRemembersItsFolder) {
  const fs::path target = dir_ / "chosen";
  fs::create_directories(target);
  TempDir::writeFile(target / "report.pdf", "older report");

  helper_.saveWithPanel(source("report.pdf", "new report"), "report.pdf");
  ASSERT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.shown[0].save.suggestedName, "report.pdf");
  EXPECT_EQ(panels_.shown[0].save.folder, downloads_);
  panels_.answer(target / "report.pdf");
  queue_.runUntilIdle();

  EXPECT_EQ(TempDir::readFile(target / "report.pdf"), "new report");
  EXPECT_EQ(defaults_.string(OrvikHelper::kLastDirectoryKey), target.string());
  EXPECT_EQ(helper_.lastSaveDirectory(), target);

  helper_.saveWithPanel(source("next.pdf"), "next.pdf");
  EXPECT_EQ(panels_.shown[1].save.folder, target);
}

TEST_F(OrvikHelperTest, ACancelledSaveWritesAndRemembersNothing) {
  helper_.saveWithPanel(source("report.pdf"), "report.pdf");
  panels_.answer(std::nullopt);
  queue_.runUntilIdle();
  EXPECT_FALSE(defaults_.hasStoredValue(OrvikHelper::kLastDirectoryKey));
  EXPECT_TRUE(fs::is_empty(downloads_));
}

TEST_F(OrvikHelperTest, PickingTheSourceItselfKeepsIt) {
  const fs::path file = source("report.pdf", "only copy");
  helper_.saveWithPanel(file, "report.pdf");
  panels_.answer(file);
  queue_.runUntilIdle();
  EXPECT_EQ(TempDir::readFile(file), "only copy");
}

TEST_F(OrvikHelperTest, SuggestedNamesFromThePageAreBareFileNames) {
  helper_.saveWithPanel(source("x"), "../../etc/passwd");
  EXPECT_EQ(panels_.shown[0].save.suggestedName, "passwd");
}

TEST_F(OrvikHelperTest, AConfirmedBatchSavesEveryFileIntoTheFolderWithoutReplacingAny) {
  const fs::path target = dir_ / "album";
  fs::create_directories(target);
  TempDir::writeFile(target / "photo.jpg", "already there");
  TempDir::writeFile(target / "photo 2.jpg", "also there");

  helper_.addToSaveBatch(source("p1", "first"), "photo.jpg", "b", 4);
  helper_.addToSaveBatch(source("p2", "second"), "photo.jpg", "b", 4);
  helper_.addToSaveBatch(source("p3", "third"), "../escape.jpg", "b", 4);
  helper_.addToSaveBatch(source("p4", "fourth"), "README", "b", 4);
  ASSERT_EQ(panels_.shown.size(), 1u);
  EXPECT_EQ(panels_.shown[0].folder.acceptLabel, "Save");
  EXPECT_EQ(panels_.shown[0].folder.folder, downloads_);
  panels_.answer(target);
  queue_.runUntilIdle();

  EXPECT_EQ(TempDir::readFile(target / "photo.jpg"), "already there");
  EXPECT_EQ(TempDir::readFile(target / "photo 2.jpg"), "also there");
  EXPECT_EQ(TempDir::readFile(target / "photo 3.jpg"), "first");
  EXPECT_EQ(TempDir::readFile(target / "photo 4.jpg"), "second");
  EXPECT_EQ(TempDir::readFile(target / "escape.jpg"), "third");
  EXPECT_EQ(TempDir::readFile(target / "README"), "fourth");
  EXPECT_FALSE(fs::exists(dir_ / "escape.jpg"));
  EXPECT_EQ(defaults_.string(OrvikHelper::kLastDirectoryKey), target.string());
}

TEST_F(OrvikHelperTest, AFailedItemDoesNotStopTheRestOfTheBatch) {
  const fs::path target = dir_ / "album";
  fs::create_directories(target);
  helper_.addToSaveBatch(sources_ / "vanished.jpg", "vanished.jpg", "b", 2);
  helper_.addToSaveBatch(source("ok.jpg", "kept"), "ok.jpg", "b", 2);
  panels_.answer(target);
  queue_.runUntilIdle();
  EXPECT_FALSE(fs::exists(target / "vanished.jpg"));
  EXPECT_EQ(TempDir::readFile(target / "ok.jpg"), "kept");
}

TEST_F(OrvikHelperTest, TheStartFolderIsTheRememberedOneWhileItExistsThenDownloads) {
  struct Case {
    const char* label;
    std::optional<std::string> stored;
    bool downloadsExist;
    std::optional<fs::path> expected;
  };
  const fs::path remembered = dir_ / "remembered";
  fs::create_directories(remembered);
  TempDir::writeFile(dir_ / "plain-file", "");
  const std::vector<Case> cases = {
      {"remembered folder exists", remembered.string(), true, remembered},
      {"remembered folder is gone", (dir_ / "gone").string(), true, downloads_},
      {"remembered path is a file", (dir_ / "plain-file").string(), true, downloads_},
      {"nothing remembered", std::nullopt, true, downloads_},
      {"nothing remembered, no downloads", std::nullopt, false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.stored) {
      defaults_.setString(OrvikHelper::kLastDirectoryKey, *c.stored);
    } else {
      defaults_.remove(OrvikHelper::kLastDirectoryKey);
    }
    downloadsAnswer_ = c.downloadsExist ? std::optional<fs::path>(downloads_) : std::nullopt;
    EXPECT_EQ(helper_.lastSaveDirectory(), c.expected);
  }
}

TEST_F(OrvikHelperTest, AChooserAnsweredAfterTheHelperIsGoneDoesNothing) {
  RecordingSavePanels panels;
  {
    OrvikHelper helper(panels, opener_, defaults_, queue_);
    helper.addToSaveBatch(source("a.jpg"), "a.jpg", "b", 3);
    helper.saveWithPanel(source("b.jpg"), "b.jpg");
  }
  panels.answer(dir_ / "b.jpg");
  queue_.advance(10);  // the batch's time-out was cancelled with the helper
  EXPECT_EQ(panels.shown.size(), 1u);
  EXPECT_FALSE(fs::exists(dir_ / "b.jpg"));
}

}  // namespace
}  // namespace orvik
