// The screen-share picker's decisions against real user defaults in a temp
// folder: the preselection from the last choice (wrong types read as
// absent), tabs with their own selections, card titles, and Share writing
// the record before it hands the target on.
#include "calls/screens/screen_share_picker_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

using Json = nlohmann::json;
using Tab = ScreenSharePickerModel::Tab;

ShareableWindow window(std::uint32_t id, const std::string& app, const std::string& title) {
  ShareableWindow w;
  w.id = id;
  w.title = title;
  if (!app.empty()) w.owner = OwningApplication{0, app, app};
  w.width = w.height = 400;
  return w;
}

ShareableContent content(std::size_t displays = 2) {
  ShareableContent c;
  for (std::size_t i = 0; i < displays; ++i) c.displays.push_back({static_cast<std::int64_t>(100 + i), "", 1280, 900});
  c.windows = {window(11, "gedit", "notes.txt"), window(12, "firefox", "News"), window(13, "gedit", "todo.txt"),
               window(14, "", "untitled")};
  return c;
}

class ScreenSharePickerModelTest : public ::testing::Test {
 protected:
  void remember(const Json& record) { defaults.setDictionary(ScreenShareLastChoice::kDefaultsKey, record); }
  testing::TempDir dir;
  platform::UserDefaults defaults{dir / "defaults.json"};
};

TEST_F(ScreenSharePickerModelTest, PreselectionFromTheLastChoice) {
  struct Row {
    const char* name;
    Json record;  // null: none stored
    std::size_t displays;
    Tab tab;
    std::optional<std::size_t> window, display;
  };
  const std::vector<Row> rows = {
      {"no record: window tab, nothing selected", nullptr, 2, Tab::window, std::nullopt, std::nullopt},
      {"a display still there", {{"kind", "screen"}, {"displayID", 101}}, 2, Tab::screen, std::nullopt, 1},
      {"a display gone: the first display", {{"kind", "screen"}, {"displayID", 999}}, 2, Tab::screen, std::nullopt,
       0},
      {"a display record with no displays offered", {{"kind", "screen"}, {"displayID", 101}}, 0, Tab::window,
       std::nullopt, std::nullopt},
      {"a window by its number", {{"kind", "window"}, {"windowID", 13}, {"bundleID", "x"}, {"title", "y"}}, 2,
       Tab::window, 2, std::nullopt},
      {"a closed window: same application and title",
       {{"kind", "window"}, {"windowID", 99}, {"bundleID", "gedit"}, {"title", "todo.txt"}}, 2, Tab::window, 2,
       std::nullopt},
      {"a closed window: the first of its application",
       {{"kind", "window"}, {"windowID", 99}, {"bundleID", "gedit"}, {"title", "gone.txt"}}, 2, Tab::window, 0,
       std::nullopt},
      {"a closed window of no application: nothing",
       {{"kind", "window"}, {"windowID", 99}, {"bundleID", ""}, {"title", "untitled"}}, 2, Tab::window,
       std::nullopt, std::nullopt},
      {"an application no longer running", {{"kind", "window"}, {"bundleID", "vlc"}}, 2, Tab::window, std::nullopt,
       std::nullopt},
      // Values of the wrong type count as absent.
      {"windowID as a string", {{"kind", "window"}, {"windowID", "13"}, {"bundleID", "firefox"}}, 2, Tab::window, 1,
       std::nullopt},
      {"windowID as a fraction", {{"kind", "window"}, {"windowID", 13.5}, {"bundleID", "firefox"}}, 2, Tab::window,
       1, std::nullopt},
      {"bundleID as a number", {{"kind", "window"}, {"windowID", 99}, {"bundleID", 7}}, 2, Tab::window,
       std::nullopt, std::nullopt},
      {"title as a number: the application alone",
       {{"kind", "window"}, {"windowID", 99}, {"bundleID", "gedit"}, {"title", 3}}, 2, Tab::window, 0, std::nullopt},
      {"displayID as a string: the first display", {{"kind", "screen"}, {"displayID", "101"}}, 2, Tab::screen,
       std::nullopt, 0},
      {"kind as a number", {{"kind", 1}, {"windowID", 13}}, 2, Tab::window, std::nullopt, std::nullopt},
      {"kind missing", {{"windowID", 13}}, 2, Tab::window, std::nullopt, std::nullopt},
      {"an empty record", Json::object(), 2, Tab::window, std::nullopt, std::nullopt},
      {"not a dictionary", Json::array({1, 2}), 2, Tab::window, std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    if (row.record.is_null()) {
      defaults.remove(ScreenShareLastChoice::kDefaultsKey);
    } else if (row.record.is_object()) {
      remember(row.record);
    } else {
      defaults.setStringList(ScreenShareLastChoice::kDefaultsKey, {"a", "b"});
    }
    ScreenSharePickerModel picker(content(row.displays), defaults);
    EXPECT_EQ(picker.tab(), row.tab) << row.name;
    EXPECT_EQ(picker.selectedWindowIndex(), row.window) << row.name;
    EXPECT_EQ(picker.selectedDisplayIndex(), row.display) << row.name;
  }
}

TEST_F(ScreenSharePickerModelTest, ThumbnailsSelectTheFirstWindowOnlyWhenNoneIs) {
  ScreenSharePickerModel none(content(), defaults);
  EXPECT_FALSE(none.canShare());
  none.thumbnailsArrived();
  EXPECT_EQ(none.selectedWindowIndex(), 0u);
  EXPECT_TRUE(none.canShare());

  remember({{"kind", "window"}, {"windowID", 12}});
  ScreenSharePickerModel chosen(content(), defaults);
  chosen.thumbnailsArrived();
  EXPECT_EQ(chosen.selectedWindowIndex(), 1u);

  ShareableContent noWindows = content();
  noWindows.windows.clear();
  ScreenSharePickerModel empty(noWindows, defaults);
  empty.thumbnailsArrived();
  EXPECT_EQ(empty.selectedWindowIndex(), std::nullopt);
  EXPECT_TRUE(empty.cardTitles().empty());
  EXPECT_FALSE(empty.canShare());
  EXPECT_EQ(empty.share(), std::nullopt);
  // The screen tab selects its first display.
  empty.setTab(Tab::screen);
  EXPECT_EQ(empty.selectedDisplayIndex(), 0u);
  EXPECT_TRUE(empty.canShare());
}

TEST_F(ScreenSharePickerModelTest, EachTabKeepsItsOwnSelection) {
  ScreenSharePickerModel picker(content(), defaults);
  picker.select(2);
  picker.setTab(Tab::screen);
  EXPECT_EQ(picker.selection(), 0u);
  picker.select(1);
  picker.setTab(Tab::window);
  EXPECT_EQ(picker.selection(), 2u);
  picker.setTab(Tab::screen);
  EXPECT_EQ(picker.selection(), 1u);
  // A card that is not there changes nothing.
  picker.select(7);
  EXPECT_EQ(picker.selection(), 1u);
}

TEST_F(ScreenSharePickerModelTest, CardTitles) {
  ScreenSharePickerModel two(content(2), defaults);
  EXPECT_EQ(two.cardTitles(), (std::vector<std::string>{"gedit — notes.txt", "firefox — News", "gedit — todo.txt",
                                                        "Window — untitled"}));
  two.setTab(Tab::screen);
  EXPECT_EQ(two.cardTitles(), (std::vector<std::string>{"Screen 1", "Screen 2"}));
  ScreenSharePickerModel one(content(1), defaults);
  one.setTab(Tab::screen);
  EXPECT_EQ(one.cardTitles(), (std::vector<std::string>{"Entire Screen"}));
}

TEST_F(ScreenSharePickerModelTest, ShareWritesTheRecordThatPreselectsNextTime) {
  {
    ScreenSharePickerModel picker(content(), defaults);
    picker.select(3);
    const auto target = picker.share();
    ASSERT_TRUE(target);
    EXPECT_EQ(std::get<ShareableWindow>(*target).id, 14u);
    EXPECT_EQ(defaults.dictionary(ScreenShareLastChoice::kDefaultsKey),
              (Json{{"kind", "window"}, {"windowID", 14}, {"bundleID", ""}, {"title", "untitled"}}));
  }
  // Found again by its number only (it has no application).
  EXPECT_EQ(ScreenSharePickerModel(content(), defaults).selectedWindowIndex(), 3u);

  ScreenSharePickerModel picker(content(), defaults);
  picker.setTab(Tab::screen);
  picker.select(1);
  const auto display = picker.share();
  ASSERT_TRUE(display);
  EXPECT_EQ(std::get<ShareableDisplay>(*display).id, 101);
  EXPECT_EQ(defaults.dictionary(ScreenShareLastChoice::kDefaultsKey), (Json{{"kind", "screen"}, {"displayID", 101}}));
  ScreenSharePickerModel next(content(), defaults);
  EXPECT_EQ(next.tab(), Tab::screen);
  EXPECT_EQ(next.selectedDisplayIndex(), 1u);
  // Survives a restart: a fresh reader of the same file sees it.
  platform::UserDefaults reread(dir / "defaults.json");
  EXPECT_EQ(ScreenSharePickerModel(content(), reread).selectedDisplayIndex(), 1u);
}

}  // namespace
}  // namespace orvik
