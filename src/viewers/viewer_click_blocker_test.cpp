#include "viewers/viewer_click_blocker.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class RecordingSurface final : public BlockerSurface {
 public:
  void show(std::function<void()> onClick) override {
    ++shows;
    click = std::move(onClick);
  }
  void hide() override {
    ++hides;
    click = nullptr;
  }
  int shows = 0;
  int hides = 0;
  std::function<void()> click;
};

// Two viewers whose dismissal closes their window, and whose close releases
// their hold, as the real ones do.
class ViewerClickBlockerTest : public ::testing::Test {
 protected:
  struct Viewer {
    std::string name;
    bool open = false;
  };
  void show(Viewer& viewer) {
    viewer.open = true;
    blocker_.activateBlocker(&viewer, [this, &viewer] { close(viewer); });
  }
  void close(Viewer& viewer) {
    if (!viewer.open) return;
    viewer.open = false;
    closed_.push_back(viewer.name);
    blocker_.deactivateBlocker(&viewer);
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  RecordingSurface surface_;
  ViewerClickBlocker blocker_{surface_};
  Viewer image_{"image"};
  Viewer document_{"document"};
  std::vector<std::string> closed_;
};

TEST_F(ViewerClickBlockerTest, AClickClosesEveryHolderAndTheCoverGoesWithTheLast) {
  show(image_);
  show(document_);
  EXPECT_EQ(surface_.shows, 1);
  EXPECT_EQ(blocker_.activeCount(), 2);
  surface_.click();
  EXPECT_EQ(closed_, (std::vector<std::string>{"image", "document"}));
  EXPECT_EQ(blocker_.activeCount(), 0);
  EXPECT_FALSE(blocker_.isCovering());
  EXPECT_EQ(surface_.hides, 1);
}

TEST_F(ViewerClickBlockerTest, HoldsBelongToTheirViewer) {
  struct Step {
    enum { show, reshow, close, releaseTwice, releaseStranger, click, deactivateApp } what;
    const char* viewer;
  };
  struct Case {
    const char* label;
    std::vector<Step> steps;
    std::vector<std::string> closed;
    int holds;
    bool covering;
  };
  const std::vector<Case> cases = {
      {"the older viewer's close leaves the newer one's dismissal",
       {{Step::show, "image"}, {Step::show, "document"}, {Step::close, "image"}, {Step::click, ""}},
       {"image", "document"}, 0, false},
      {"showing again does not take a second hold",
       {{Step::show, "image"}, {Step::reshow, "image"}, {Step::close, "image"}}, {"image"}, 0, false},
      {"releasing twice takes nothing from the other viewer",
       {{Step::show, "image"}, {Step::show, "document"}, {Step::releaseTwice, "image"}, {Step::deactivateApp, ""}},
       {"document"}, 0, false},
      {"a viewer without a hold releases nothing",
       {{Step::show, "document"}, {Step::releaseStranger, ""}}, {}, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingSurface surface;
    ViewerClickBlocker blocker(surface);
    std::map<std::string, bool> open;
    std::vector<std::string> closed;
    std::function<void(const std::string&)> closeViewer = [&](const std::string& name) {
      if (!open[name]) return;
      open[name] = false;
      closed.push_back(name);
      blocker.deactivateBlocker(&open.at(name));
    };
    auto showViewer = [&](const std::string& name) {
      open[name] = true;
      blocker.activateBlocker(&open.at(name), [&, name] { closeViewer(name); });
    };
    int stranger = 0;
    for (const auto& step : c.steps) {
      switch (step.what) {
        case Step::show:
        case Step::reshow: showViewer(step.viewer); break;
        case Step::close: closeViewer(step.viewer); break;
        case Step::releaseTwice:
          open[step.viewer] = false;
          blocker.deactivateBlocker(&open.at(step.viewer));
          blocker.deactivateBlocker(&open.at(step.viewer));
          break;
        case Step::releaseStranger: blocker.deactivateBlocker(&stranger); break;
        case Step::click: surface.click(); break;
        case Step::deactivateApp: blocker.applicationDeactivated(); break;
      }
    }
    EXPECT_EQ(closed, c.closed);
    EXPECT_EQ(blocker.activeCount(), c.holds);
    EXPECT_EQ(blocker.isCovering(), c.covering);
    EXPECT_EQ(surface.shows, 1);
    EXPECT_EQ(surface.hides, c.covering ? 0 : 1);
  }
}

}  // namespace
}  // namespace orvik
